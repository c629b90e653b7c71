#pragma once
#include <string>
#include <vector>

namespace ps {

// The highest COM number a gang run takes.
constexpr int MaxGangPort = 10;

// Gang programming: the current project on several ports at once, each board in a run of
// its own (a child process of this program with "--port N"), so a fault, a hang or a crash
// on one board never disturbs another. On a terminal one live line per port; otherwise
// every line of a child prefixed with its port. A line on standard input continues every
// port that waits; Ctrl-C stops them all. Returns 0 when every port succeeded, else the
// exit status of the first port in the list that did not.
int RunGang(const std::vector<int>& ports, const std::vector<std::string>& childArgs,
            const std::string& iniPath);

// "1,2,3" -> {1, 2, 3}; false for anything but distinct COM numbers 1..10.
bool ParseGangList(const std::string& text, std::vector<int>& ports);

}  // namespace ps

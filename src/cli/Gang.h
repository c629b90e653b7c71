// SPDX-License-Identifier: MIT
#pragma once
#include <string>
#include <vector>

namespace ps {

// Gang programming: the current project on several ports at once, each board in a run of
// its own (a child process of this program with "--port N"), so a fault, a hang or a crash
// on one board never disturbs another. On a terminal one live line per port; otherwise
// every line of a child prefixed with its port. A line on standard input continues every
// port that waits; Ctrl-C stops them all. Returns 0 when every port succeeded, else the
// exit status of the first port in the list that did not.
int RunGang(const std::vector<int>& ports, const std::vector<std::string>& childArgs,
            const std::string& iniPath);

// A port's verdict from waitpid: its exit status, 128 + the signal that killed it, and a
// failure when it could not be waited for (`waited` false); never 0 unless it exited 0.
int GangExitStatus(bool waited, int waitStatus);

// Each port of a gang traces to a file of its own: the port's name before the extension
// ("trace.txt" -> "trace.COM2.txt", "trace" -> "trace.COM2").
std::string PortTraceFile(const std::string& file, int port);
// The arguments a gang passes on to the run of `port`: its own, with "--trace FILE" (or
// "--trace=FILE") naming the port's file.
std::vector<std::string> PortRunArgs(const std::vector<std::string>& args, int port);

// In a port's run: whether the gang that started it is gone (it ended, however: a run
// must then end as STOP ends it). Always false outside a gang.
bool GangVanished();

// "1,2,3" -> {1, 2, 3}; false for anything but distinct COM numbers 1..10.
bool ParseGangList(const std::string& text, std::vector<int>& ports);

}  // namespace ps

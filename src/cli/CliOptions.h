// SPDX-License-Identifier: MIT
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace ps {

// What the terminal station's command line asks for.
struct CliOptions {
    std::string IniOverride, TraceFile, RecordFile;
    int Port = 1;
    bool ShowSteps = false, ListPorts = false;
    bool Quiet = false, Verbose = false;
    bool CheckImages = false, StrictImages = false;
    int64_t SilenceLimitMs = 0;
    int64_t WaitPortMs = 0;
    std::vector<int> Gang;
    bool GangPort = false;  // this run is one port of a gang
    std::vector<std::string> ChildArgs;  // what a gang passes on to each port's run
    std::vector<std::string> StepArgs;
};

// Reads the command line into `out`. Returns -1 when the station is to run; otherwise the
// program's exit status, after --help or --version printed to standard output or a usage
// error said in one line on standard error.
int ReadCliOptions(int argc, char** argv, CliOptions& out);

}  // namespace ps

// SPDX-License-Identifier: MIT
#pragma once
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace ps {
class Station;
class WireTrace;
class RunRecorder;
}  // namespace ps

namespace ps::gui {

// The desktop station's command line: its own options, the rest for the steps.
struct SetupOptions {
    std::string IniOverride;            // --ini PATH
    std::string TraceFile;              // --trace FILE
    std::string RecordFile;             // --record FILE: one JSON line per run
    std::string Gang;                   // --gang LIST: the gang window for these ports
    std::vector<std::string> StepArgs;  // "AUTO[=n]" and step-file lines, in order
    bool Help = false;
    bool Version = false;
    bool OpenProjects = false;  // --projects: the projects dialog at start
};

// False with a message for bad usage (an option without its value, an unknown option,
// --projects with "AUTO").
bool ParseArguments(const std::vector<std::string>& args, SetupOptions& out, std::string& error);
// The text of --help, made from the option table the parser uses.
std::string HelpText();

// Prepares a window's Station for the program: the settings file, the program folder, the
// command line, the port map (device paths or simulated boards) and the wire trace. Keep it
// alive as long as the Station: the trace it opens is used by the station's port.
class StationSetup {
public:
    StationSetup();
    ~StationSetup();
    StationSetup(const StationSetup&) = delete;
    StationSetup& operator=(const StationSetup&) = delete;

    bool Apply(Station& st, const SetupOptions& options, const std::string& programFolder,
               std::string& error);

private:
    std::FILE* traceFile_ = nullptr;
    std::unique_ptr<WireTrace> trace_;
    std::unique_ptr<RunRecorder> recorder_;
};

}  // namespace ps::gui

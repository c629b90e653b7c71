// SPDX-License-Identifier: MIT
#include "cli/CliOptions.h"

#include <sys/stat.h>

#include <cstdio>

#include "run/ExitStatus.h"
#include "app/Version.h"
#include "cli/Gang.h"
#include "options/CommandLine.h"

namespace ps {

namespace {

constexpr long MaxSeconds = 86400;

int UsageError(const std::string& message) {
    std::fprintf(stderr, "progstation-cli: %s (see progstation-cli --help)\n", message.c_str());
    return ExitUsage;
}

// The settings file named by --ini: a folder is a usage error (returns false); a file that
// is missing or not a regular file is read as defaults, which the operator is told once.
bool CheckIniOverride(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        std::fprintf(stderr, "progstation-cli: %s does not exist; default settings are used\n",
                     path.c_str());
    } else if (S_ISDIR(st.st_mode)) {
        return false;
    } else if (!S_ISREG(st.st_mode)) {
        std::fprintf(stderr,
                     "progstation-cli: %s is not a regular file; default settings are used\n",
                     path.c_str());
    }
    return true;
}

// Whole seconds 1..86400 of `option` into milliseconds; false when given but not such.
bool Seconds(const options::ParsedLine& line, const char* option, int64_t& ms) {
    if (!line.Has(option)) return true;
    long seconds = 0;
    if (!options::StrictWhole(line.Value(option), 1, MaxSeconds, seconds)) return false;
    ms = static_cast<int64_t>(seconds) * 1000;
    return true;
}

}  // namespace

int ReadCliOptions(int argc, char** argv, CliOptions& out) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    options::ParsedLine line;
    std::string error;
    if (!options::ParseCommandLine(options::Cli, args, line, error)) return UsageError(error);
    if (line.Has("--help")) {
        std::fputs(options::HelpText(options::Cli, options::SystemHelpPhrases()).c_str(), stdout);
        return ExitSuccess;
    }
    if (line.Has("--version")) {
        std::printf("progstation-cli %s\n", VersionText().c_str());
        return ExitSuccess;
    }
    out.IniOverride = line.Value("--ini");
    out.TraceFile = line.Value("--trace");
    out.RecordFile = line.Value("--record");
    if (line.Has("--ini") && out.IniOverride.empty()) return UsageError("--ini needs a path");
    if (line.Has("--trace") && out.TraceFile.empty())
        return UsageError("--trace needs a file name");
    if (line.Has("--record") && out.RecordFile.empty())
        return UsageError("--record needs a file name");
    if (!out.IniOverride.empty() && !CheckIniOverride(out.IniOverride))
        return UsageError("--ini names a folder: " + out.IniOverride);
    long port = 1;
    if (line.Has("--port") && !options::StrictWhole(line.Value("--port"), 1, 4, port))
        return UsageError("--port takes a number from 1 to 4");
    out.Port = static_cast<int>(port);
    if (line.Has("--gang") && !ParseGangList(line.Value("--gang"), out.Gang))
        return UsageError("--gang takes a list of COM numbers 1 to 10, such as 1,2,3,4");
    if (line.Has("--gang-port")) {
        std::vector<int> one;
        if (!ParseGangList(line.Value("--gang-port"), one) || one.size() != 1)
            return UsageError("--gang-port takes one COM number 1 to 10");
        out.Port = one[0];
        out.GangPort = true;
    }
    if (!Seconds(line, "--silence-limit", out.SilenceLimitMs))
        return UsageError("--silence-limit takes whole seconds from 1 to 86400");
    if (!Seconds(line, "--wait-port", out.WaitPortMs))
        return UsageError("--wait-port takes whole seconds from 1 to 86400");
    out.CheckImages = line.Has("--check-images");
    out.StrictImages = line.Has("--strict-images");
    out.Quiet = line.Has("--quiet");
    out.Verbose = line.Has("--verbose");
    out.ListPorts = line.Has("--list-ports");
    out.ShowSteps = line.Has("--show-steps");
    if (out.Quiet && out.Verbose) return UsageError("--quiet and --verbose exclude each other");
    out.StepArgs = line.Steps;
    out.ChildArgs = options::WithoutOption(options::Cli, args, "--gang");
    return -1;
}

}  // namespace ps

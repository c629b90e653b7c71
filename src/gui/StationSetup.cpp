// SPDX-License-Identifier: MIT
#include "StationSetup.h"

#include <cerrno>
#include <cstring>

#include "app/StartUp.h"
#include "run/Station.h"
#include "app/StationPorts.h"
#include "app/Version.h"
#include "link/WireTrace.h"
#include "options/CommandLine.h"
#include "production/RunRecord.h"
#include "projects/Settings.h"
#include "records/RecordFile.h"
#include "sim/Boards.h"

namespace ps::gui {

bool ParseArguments(const std::vector<std::string>& args, SetupOptions& out, std::string& error) {
    options::ParsedLine line;
    if (!options::ParseCommandLine(options::Gui, args, line, error)) return false;
    out.IniOverride = line.Value("--ini");
    out.TraceFile = line.Value("--trace");
    out.RecordFile = line.Value("--record");
    out.Gang = line.Value("--gang");
    for (const char* option : {"--ini", "--trace", "--record", "--gang"}) {
        if (line.Has(option) && line.Value(option).empty()) {
            error = std::string(option) + " needs a value";
            return false;
        }
    }
    out.OpenProjects = line.Has("--projects");
    out.Help = line.Has("--help");
    out.Version = line.Has("--version");
    out.StepArgs = line.Steps;
    // An automatic run starts with the window; the project must not change under it.
    if (out.OpenProjects && !out.StepArgs.empty() &&
        ParseAutoArgument(out.StepArgs.front()).AutoMode) {
        error = "--projects cannot be used with AUTO";
        return false;
    }
    return true;
}

std::string HelpText() {
    return options::HelpText(options::Gui);
}

StationSetup::StationSetup() = default;

StationSetup::~StationSetup() {
    trace_.reset();
    if (traceFile_) std::fclose(traceFile_);
}

bool StationSetup::Apply(Station& st, const SetupOptions& options, const std::string& programFolder,
                         std::string& error) {
    st.ProgramFolder = programFolder;
    st.IniPath = LocateSettingsFile(programFolder, options.IniOverride);
    st.CommandLineArgs = options.StepArgs;
    if (!options.TraceFile.empty()) {
        traceFile_ = std::fopen(options.TraceFile.c_str(), "w");
        if (!traceFile_) {
            error =
                "cannot write the trace file " + options.TraceFile + ": " + std::strerror(errno);
            return false;
        }
        trace_ = std::make_unique<WireTrace>(st.clock, traceFile_);
        st.Comm.SetTrace(trace_.get());
    }

    if (!options.RecordFile.empty()) {
        recorder_ = std::make_unique<RunRecorder>();
        recorder_->Version = VersionText();
        recorder_->Sink = [file = options.RecordFile](const RunRecord& record) {
            std::string why;
            if (!AppendRecord(file, record, why))
                std::fprintf(stderr, "progstation: run record not written: %s\n", why.c_str());
        };
        st.Recorder = recorder_.get();
    }

    SetUpStationPorts(st, sim::SimDeviceFactory(st.clock));
    return true;
}

}  // namespace ps::gui

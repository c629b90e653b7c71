#include "StationSetup.h"

#include <cerrno>
#include <cstring>

#include "app/StartUp.h"
#include "app/Station.h"
#include "app/Version.h"
#include "link/PortMap.h"
#include "link/WireTrace.h"
#include "production/RunRecord.h"
#include "projects/Settings.h"
#include "records/RecordFile.h"
#include "sim/Boards.h"

namespace ps::gui {

namespace {
bool TakeValue(const std::vector<std::string>& args, size_t& i, const std::string& option,
               std::string& value, std::string& error) {
    const std::string& arg = args[i];
    if (arg.size() > option.size() && arg.compare(0, option.size() + 1, option + "=") == 0) {
        value = arg.substr(option.size() + 1);
    } else if (i + 1 < args.size()) {
        value = args[++i];
    } else {
        error = option + " needs a value";
        return false;
    }
    if (value.empty()) {
        error = option + " needs a value";
        return false;
    }
    return true;
}

bool Is(const std::string& arg, const std::string& option) {
    return arg == option || arg.compare(0, option.size() + 1, option + "=") == 0;
}
}  // namespace

bool ParseArguments(const std::vector<std::string>& args, SetupOptions& out, std::string& error) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (Is(arg, "--ini")) {
            if (!TakeValue(args, i, "--ini", out.IniOverride, error)) return false;
        } else if (Is(arg, "--trace")) {
            if (!TakeValue(args, i, "--trace", out.TraceFile, error)) return false;
        } else if (Is(arg, "--record")) {
            if (!TakeValue(args, i, "--record", out.RecordFile, error)) return false;
        } else if (Is(arg, "--gang")) {
            if (!TakeValue(args, i, "--gang", out.Gang, error)) return false;
        } else if (arg == "--projects") {
            out.OpenProjects = true;
        } else if (arg == "--help" || arg == "-h") {
            out.Help = true;
        } else if (arg.rfind("--", 0) == 0) {
            error = "unknown option " + arg;
            return false;
        } else {
            out.StepArgs.push_back(arg);
        }
    }
    // An automatic run starts with the window; the project must not change under it.
    if (out.OpenProjects && !out.StepArgs.empty() &&
        ParseAutoArgument(out.StepArgs.front()).AutoMode) {
        error = "--projects cannot be used with AUTO";
        return false;
    }
    return true;
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

    PortMapConfig ports;
    const std::string iniPath = st.IniPath;
    ports.IniLookup = [iniPath](const std::string& key) {
        return ReadSetting(iniPath, PortIniSection, key, "");
    };
    ports.SimFactory = sim::SimDeviceFactory(st.clock);
    st.Comm.SetResolver(MakePortResolver(std::move(ports)));
    return true;
}

}  // namespace ps::gui

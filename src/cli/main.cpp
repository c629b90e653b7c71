// SPDX-License-Identifier: MIT
// progstation-cli: the station without a window, for production scripts and terminals.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/ExitStatus.h"
#include "app/Hints.h"
#include "app/RunController.h"
#include "app/StartUp.h"
#include "app/Station.h"
#include "app/Version.h"
#include "cli/CliOptions.h"
#include "cli/Gang.h"
#include "cli/PortSetup.h"
#include "cli/TerminalView.h"
#include "link/Clock.h"
#include "link/PortList.h"
#include "link/WireTrace.h"
#include "production/ImageCheck.h"
#include "production/RunRecord.h"
#include "projects/Settings.h"
#include "projects/ShowSteps.h"
#include "records/RecordFile.h"

namespace {

std::string ProgramFolder() {
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return "./";
    std::string p(path, static_cast<size_t>(n));
    return p.substr(0, p.rfind('/') + 1);
}

// The trace file, opened without blocking: a FIFO without a reader is refused at once
// rather than holding the run, and one whose reader does not keep up loses the trace
// (TerminalView warns), never the run. A regular file is emptied as "w" would.
std::FILE* OpenTrace(const std::string& path) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) return nullptr;
    struct stat st {};
    if (fstat(fd, &st) != 0 || (S_ISREG(st.st_mode) && ftruncate(fd, 0) != 0)) {
        close(fd);
        return nullptr;
    }
    std::FILE* file = fdopen(fd, "w");
    if (file == nullptr) close(fd);
    return file;
}

}  // namespace

int main(int argc, char** argv) {
    // A reader of the output or of the trace that goes away must not end a run that is
    // programming a board: the write fails instead, and the run goes on.
    std::signal(SIGPIPE, SIG_IGN);
    ps::CliOptions opts;
    if (const int status = ps::ReadCliOptions(argc, argv, opts); status >= 0) return status;
    const std::string iniPath = ps::LocateSettingsFile(ProgramFolder(), opts.IniOverride);
    if (opts.ListPorts) {
        std::fputs(ps::FormatPortList(ps::ListSerialPorts(), ps::ComTargets(iniPath)).c_str(),
                   stdout);
        return ps::ExitSuccess;
    }
    if (opts.ShowSteps) {
        const ps::CurrentProject project = ps::SelectCurrentProject(iniPath);
        const ps::ShowStepsReport report = ps::ShowSteps(project, opts.StepArgs);
        std::fputs(report.Text.c_str(), stdout);
        for (const auto& finding : ps::CheckProjectImages(project, opts.StepArgs))
            std::printf("Image warning: %s\n", finding.Describe().c_str());
        return report.ExitStatus;
    }
    if (!opts.Gang.empty()) return ps::RunGang(opts.Gang, opts.ChildArgs, iniPath);
    if (opts.CheckImages || opts.StrictImages) {
        const auto findings =
            ps::CheckProjectImages(ps::SelectCurrentProject(iniPath), opts.StepArgs);
        for (const auto& finding : findings)
            std::fprintf(stderr, "%s\n", finding.Describe().c_str());
        if (opts.StrictImages && !findings.empty()) {
            std::fprintf(stderr,
                         "progstation-cli: --strict-images: %zu damaged record(s); nothing was "
                         "sent\n",
                         findings.size());
            return ps::ExitImageFile;
        }
    }

    ps::RealClock clock;
    const bool terminal = isatty(STDOUT_FILENO) != 0;
    ps::TerminalView view(stdout, ps::UseColour(terminal), terminal);
    view.SetQuiet(opts.Quiet);
    ps::Station st(clock, view);
    view.Attach(&st);
    st.IniPath = iniPath;
    st.ProgramFolder = ProgramFolder();
    st.CommandLineArgs = opts.StepArgs;
    st.SilenceLimitMs = opts.SilenceLimitMs;
    st.WaitPortMs = opts.WaitPortMs;
    ps::RunRecorder recorder;
    if (!opts.RecordFile.empty()) {
        recorder.Version = ps::VersionText();
        recorder.Sink = [&opts](const ps::RunRecord& record) {
            std::string error;
            if (!ps::AppendRecord(opts.RecordFile, record, error))
                std::fprintf(stderr, "progstation-cli: run record not written: %s\n",
                             error.c_str());
        };
        st.Recorder = &recorder;
    }

    std::FILE* traceOut = nullptr;
    std::unique_ptr<ps::WireTrace> trace;
    if (!opts.TraceFile.empty()) {
        traceOut = OpenTrace(opts.TraceFile);
        if (!traceOut) {
            std::fprintf(stderr, "progstation-cli: cannot write the trace file %s (%s)\n",
                         opts.TraceFile.c_str(), std::strerror(errno));
            return ps::ExitUsage;
        }
        trace = std::make_unique<ps::WireTrace>(clock, traceOut);
        st.Comm.SetTrace(trace.get());
        view.SetTrace(trace.get(), traceOut, opts.TraceFile);
    }
    if (opts.Verbose) {
        if (!trace) trace = std::make_unique<ps::WireTrace>(clock, nullptr);
        trace->AlsoTo(stderr);
        st.Comm.SetTrace(trace.get());
    }
    ps::SetUpPorts(st, clock);

    bool first = true;
    ps::ActivateStation(st, first);
    st.SelectedPort = opts.Port;
    if (!opts.Quiet) std::printf("%s\n", st.Project.Label().c_str());
    ps::InstallStopSignals();
    ps::StartBtnClick(st);
    view.Finish();
    if (st.LastRunEnd == ps::Station::RunEnd::PortNotOpened && !st.LastPortError.empty()) {
        std::fprintf(stderr, "%s\n", st.LastPortError.c_str());
        const std::string hint = ps::PortOpenHint(st);
        if (!hint.empty()) std::fprintf(stderr, "%s\n", hint.c_str());
    }
    for (const std::string& hint : ps::RunHints(st, ps::HintContextFor(st)))
        std::fprintf(stderr, "%s\n", hint.c_str());
    if (opts.Quiet) std::printf("exit status %d\n", ps::ExitStatusFor(st));
    if (traceOut) std::fclose(traceOut);
    return ps::ExitStatusFor(st);
}

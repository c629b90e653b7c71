// SPDX-License-Identifier: MIT
// progstation-cli: the station without a window, for production scripts and terminals.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "run/ExitStatus.h"
#include "app/Hints.h"
#include "app/RunController.h"
#include "app/StartUp.h"
#include "run/Station.h"
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

constexpr const char* TextRecordNotWritten = "run record not written";

// A factory that asked for records must not lose one silently: a run that succeeded but
// whose record is missing ends with a status of its own. A failed run keeps its status.
int FinalStatus(int runStatus, bool recordLost) {
    return runStatus == ps::ExitSuccess && recordLost ? ps::ExitRecordNotWritten : runStatus;
}

// The record sink of --record: the line appended whole or not at all; a loss is said on
// standard error and remembered in `lost`.
std::function<void(const ps::RunRecord&)> RecordSink(const std::string& file, bool& lost) {
    return [&file, &lost](const ps::RunRecord& record) {
        std::string error;
        if (ps::AppendRecord(file, record, error)) return;
        lost = true;
        std::fprintf(stderr, "progstation-cli: %s: %s\n", TextRecordNotWritten, error.c_str());
    };
}

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

// --show-steps: the steps of the current project and what is wrong with their images.
int ShowStepsOnly(const std::string& iniPath, const ps::CliOptions& opts) {
    const ps::CurrentProject project = ps::SelectCurrentProject(iniPath);
    const ps::ShowStepsReport report = ps::ShowSteps(project, opts.StepArgs);
    std::fputs(report.Text.c_str(), stdout);
    const auto images = ps::CheckProjectImages(project, opts.StepArgs);
    for (const auto& finding : images.Findings)
        std::printf("Image warning: %s\n", finding.Describe().c_str());
    if (images.Total > static_cast<int64_t>(images.Findings.size()))
        std::printf("Image warning: %lld more\n",
                    static_cast<long long>(images.Total - images.Findings.size()));
    return report.ExitStatus;
}

// --check-images and --strict-images, before the run: the findings on standard error;
// false when --strict-images refuses the run.
bool ImagesAllowRun(const std::string& iniPath, const ps::CliOptions& opts) {
    if (!opts.CheckImages && !opts.StrictImages) return true;
    const auto images = ps::CheckProjectImages(ps::SelectCurrentProject(iniPath), opts.StepArgs);
    for (const auto& finding : images.Findings)
        std::fprintf(stderr, "%s\n", finding.Describe().c_str());
    if (images.Total > static_cast<int64_t>(images.Findings.size()))
        std::fprintf(stderr, "... %lld more\n",
                     static_cast<long long>(images.Total - images.Findings.size()));
    if (opts.StrictImages && images.Total > 0) {
        std::fprintf(stderr,
                     "progstation-cli: --strict-images: %lld finding(s); nothing was sent\n",
                     static_cast<long long>(images.Total));
        return false;
    }
    return true;
}

// --trace and --verbose: the wire trace to its file and/or standard error. False, said on
// standard error, when the trace file cannot be written.
bool SetUpTrace(const ps::CliOptions& opts, ps::RealClock& clock, ps::Station& st,
                ps::TerminalView& view, std::FILE*& traceOut,
                std::unique_ptr<ps::WireTrace>& trace) {
    if (!opts.TraceFile.empty()) {
        traceOut = OpenTrace(opts.TraceFile);
        if (!traceOut) {
            std::fprintf(stderr, "progstation-cli: cannot write the trace file %s (%s)\n",
                         opts.TraceFile.c_str(), std::strerror(errno));
            return false;
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
    return true;
}

// After the run, on standard error: why the port did not open, and the hints for the run.
void PrintRunHints(const ps::Station& st) {
    if (st.LastRunEnd == ps::Station::RunEnd::PortNotOpened && !st.LastPortError.empty()) {
        std::fprintf(stderr, "%s\n", st.LastPortError.c_str());
        const std::string hint = ps::PortOpenHint(st);
        if (!hint.empty()) std::fprintf(stderr, "%s\n", hint.c_str());
    }
    for (const std::string& hint : ps::RunHints(st, ps::HintContextFor(st)))
        std::fprintf(stderr, "%s\n", hint.c_str());
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
    if (opts.ShowSteps) return ShowStepsOnly(iniPath, opts);
    if (!opts.Gang.empty()) return ps::RunGang(opts.Gang, opts.ChildArgs, iniPath);
    if (!ImagesAllowRun(iniPath, opts)) return ps::ExitImageFile;

    ps::RealClock clock;
    const bool terminal = isatty(STDOUT_FILENO) != 0;
    // A gang's run marks its error lines red whatever its output is: its gang reads the
    // colour of each status line from the mark, and takes the mark off.
    ps::TerminalView view(stdout, ps::UseColour(terminal) || opts.GangPort, terminal);
    view.SetQuiet(opts.Quiet);
    ps::Station st(clock, view);
    view.Attach(&st);
    st.IniPath = iniPath;
    st.ProgramFolder = ProgramFolder();
    st.CommandLineArgs = opts.StepArgs;
    st.SilenceLimitMs = opts.SilenceLimitMs;
    st.WaitPortMs = opts.WaitPortMs;
    ps::RunRecorder recorder;
    bool recordLost = false;
    if (!opts.RecordFile.empty()) {
        recorder.Version = ps::VersionText();
        recorder.Sink = RecordSink(opts.RecordFile, recordLost);
        st.Recorder = &recorder;
    }

    std::FILE* traceOut = nullptr;
    std::unique_ptr<ps::WireTrace> trace;
    if (!SetUpTrace(opts, clock, st, view, traceOut, trace)) return ps::ExitUsage;
    ps::SetUpPorts(st, clock);

    bool first = true;
    ps::ActivateStation(st, first);
    st.SelectedPort = opts.Port;
    if (!opts.Quiet) std::printf("%s\n", st.Project.Label().c_str());
    ps::InstallStopSignals();
    ps::StartBtnClick(st);
    view.Finish();
    PrintRunHints(st);
    const int status = FinalStatus(ps::ExitStatusFor(st), recordLost);
    if (opts.Quiet) std::printf("exit status %d\n", status);
    if (traceOut) std::fclose(traceOut);
    return status;
}

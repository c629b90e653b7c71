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

#include "app/ExitStatus.h"
#include "app/Hints.h"
#include "app/RunController.h"
#include "app/StartUp.h"
#include "app/Station.h"
#include "app/Version.h"
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

constexpr const char* Usage =
    "usage: progstation-cli [-q|-v] [--ini PATH] [--port N] [--trace FILE] [AUTO[=n]]\n"
    "                       [step lines...]\n"
    "       progstation-cli --show-steps [--ini PATH] [step lines...]\n"
    "       progstation-cli --list-ports [--ini PATH]\n"
    "\n"
    "Runs the current project (the step file \"upgrade.cfg\" in the current folder) at once,\n"
    "as the desktop station's START does, and exits with the run's status.\n"
    "\n"
    "  --ini PATH     settings file to use instead of ~/.config/progstation/PROGRAMMER.INI\n"
    "                 (when it exists) or PROGRAMMER.INI in the program's folder; a\n"
    "                 missing file means default settings\n"
    "  --port N       COM port 1..4 (default 1); [Ports] COMn=... in the settings file or the\n"
    "                 environment variable PROGSTATION_COMn=... map it to a device or to a\n"
    "                 simulated board (sim:NAME[,options]; see boardsim --help)\n"
    "  --trace FILE   write every port event to FILE (ms since start, then the event); with\n"
    "                 --gang each port has its own, FILE with the port before the extension\n"
    "                 (trace.txt -> trace.COM2.txt)\n"
    "  -q, --quiet    print only the last status line of each step and the exit status\n"
    "  -v, --verbose  also print every port event to standard error, as --trace writes it\n"
    "  --show-steps   print the settings of every step as a run would load them, and the\n"
    "                 damaged records of its images, and exit\n"
    "production line (see docs/production.md):\n"
    "  --gang LIST    run the project on every COM port of LIST (\"1,2,3,4\") at once\n"
    "  --record FILE  append one JSON line per run (and port) to FILE\n"
    "  --silence-limit SECONDS  end a run whose board says nothing for that long in a\n"
    "                 wait (status 14); off by default: waits have no time limit\n"
    "  --wait-port SECONDS  when the port's device is missing at a step, wait up to that\n"
    "                 long for it to appear (an adapter being plugged in)\n"
    "  --check-images list the image records whose checksum or length is wrong, then run\n"
    "  --strict-images  refuse such images (status 12) before anything is sent\n"
    "  --list-ports   list the serial devices of this machine and the COM ports leading to\n"
    "                 them, and exit\n"
    "  --version      print the version and exit\n"
    "  --help         this text\n"
    "Other arguments are applied to every step as step-file lines (\"/AUTOCONTINUE\").\n"
    "After a failure, lines beginning \"hint: \" on standard error say what was tried.\n"
    "Error lines are red on a terminal unless NO_COLOR is set.\n"
    "While a step waits for CONTINUE, a line on standard input continues and the end of\n"
    "input stops. Ctrl-C (SIGINT, SIGTERM, SIGHUP) is STOP; a second Ctrl-C exits at once.\n"
    "\n"
    "exit status:\n"
    "   0  every step ended in success\n"
    "   1  BREAK: stopped, or a command refused by the board\n"
    "   2, 5, 8, 23, 24, 25  the run ended with that error code\n"
    "   3  the run went through, but a step ended with ERRORS: or CHECK SUM FAIL\n"
    "  10  ERROR : opening file. (step file), or BAD VALUE: a value in it that cannot be\n"
    "      used (a range that is empty, negative or too large, a NUL byte)\n"
    "  11  ERROR : opening COM port., or the port failed during the run\n"
    "  12  an image file could not be opened or is malformed (no data, data out of the\n"
    "      flow's reach, a line too long), or its .BIN copy failed\n"
    "  13  a step names a model this station cannot program yet\n"
    "  14  --silence-limit: the board said nothing for that long\n"
    "  15  the run failed in a way no step reports (the status line says how)\n"
    "  16  --record: the run succeeded but its run record could not be written (a failed\n"
    "      run keeps its own status; standard error says the record is missing)\n"
    "  64  bad command-line usage\n";

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

int UsageError(const std::string& message) {
    std::fprintf(stderr, "progstation-cli: %s\n\n%s", message.c_str(), Usage);
    return ps::ExitUsage;
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
    std::string iniOverride, traceFile;
    int port = 1;
    bool showSteps = false;
    bool listPorts = false;
    bool quiet = false, verbose = false;
    bool checkImages = false, strictImages = false;
    std::string recordFile;
    int64_t silenceLimitMs = 0;
    int64_t waitPortMs = 0;
    std::vector<int> gang;
    bool gangPort = false;  // this run is one port of a gang
    std::vector<std::string> childArgs;  // what a gang passes on to each port's run
    std::vector<std::string> stepArgs;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const int optionStart = i;
        auto value = [&](const char* option, std::string& out) {
            if (i + 1 >= argc) return false;
            out = argv[++i];
            (void)option;
            return true;
        };
        // Every argument but the gang's own goes on to the runs of a gang.
        struct PassOn {
            int From;
            int& To;
            std::vector<std::string>& Args;
            char** Argv;
            bool Skip = false;
            ~PassOn() {
                if (!Skip)
                    for (int k = From; k <= To; ++k) Args.push_back(Argv[k]);
            }
        } passOn{optionStart, i, childArgs, argv};
        if (a == "--help" || a == "-h") {
            std::fputs(Usage, stdout);
            return ps::ExitSuccess;
        } else if (a == "--ini") {
            if (!value("--ini", iniOverride)) return UsageError("--ini needs a path");
            if (!CheckIniOverride(iniOverride))
                return UsageError("--ini names a folder: " + iniOverride);
        } else if (a == "--trace") {
            if (!value("--trace", traceFile)) return UsageError("--trace needs a file name");
        } else if (a == "--port") {
            std::string n;
            if (!value("--port", n) || n.size() != 1 || n[0] < '1' || n[0] > '4')
                return UsageError("--port takes a number from 1 to 4");
            port = n[0] - '0';
        } else if (a == "--gang") {
            std::string list;
            passOn.Skip = true;
            if (!value("--gang", list) || !ps::ParseGangList(list, gang))
                return UsageError("--gang takes a list of COM numbers 1 to 10, such as 1,2,3,4");
        } else if (a == "--gang-port") {
            // How a gang starts the run of one of its ports (COM1..COM10).
            std::string n;
            std::vector<int> one;
            if (!value("--gang-port", n) || !ps::ParseGangList(n, one) || one.size() != 1)
                return UsageError("--gang-port takes one COM number 1 to 10");
            port = one[0];
            gangPort = true;
        } else if (a == "--record") {
            if (!value("--record", recordFile)) return UsageError("--record needs a file name");
        } else if (a == "--silence-limit") {
            std::string n;
            char* end = nullptr;
            const long seconds = value("--silence-limit", n) ? std::strtol(n.c_str(), &end, 10) : 0;
            if (n.empty() || !end || *end != '\0' || seconds < 1 || seconds > 86400)
                return UsageError("--silence-limit takes whole seconds from 1 to 86400");
            silenceLimitMs = seconds * 1000;
        } else if (a == "--wait-port") {
            std::string n;
            char* end = nullptr;
            const long seconds = value("--wait-port", n) ? std::strtol(n.c_str(), &end, 10) : 0;
            if (n.empty() || !end || *end != '\0' || seconds < 1 || seconds > 86400)
                return UsageError("--wait-port takes whole seconds from 1 to 86400");
            waitPortMs = seconds * 1000;
        } else if (a == "--check-images") {
            checkImages = true;
        } else if (a == "--strict-images") {
            strictImages = true;
        } else if (a == "-q" || a == "--quiet") {
            quiet = true;
        } else if (a == "-v" || a == "--verbose") {
            verbose = true;
        } else if (a == "--version") {
            std::printf("progstation-cli %s\n", ps::VersionText().c_str());
            return ps::ExitSuccess;
        } else if (a == "--list-ports") {
            listPorts = true;
        } else if (a == "--show-steps") {
            showSteps = true;
        } else if (a.size() > 2 && a.compare(0, 2, "--") == 0) {
            return UsageError("unknown option " + a);
        } else {
            stepArgs.push_back(a);
        }
    }

    const std::string iniPath = ps::LocateSettingsFile(ProgramFolder(), iniOverride);
    if (quiet && verbose) return UsageError("--quiet and --verbose exclude each other");
    if (listPorts) {
        std::fputs(ps::FormatPortList(ps::ListSerialPorts(), ps::ComTargets(iniPath)).c_str(),
                   stdout);
        return ps::ExitSuccess;
    }
    if (showSteps) {
        const ps::CurrentProject project = ps::SelectCurrentProject(iniPath);
        const ps::ShowStepsReport report = ps::ShowSteps(project, stepArgs);
        std::fputs(report.Text.c_str(), stdout);
        for (const auto& finding : ps::CheckProjectImages(project, stepArgs))
            std::printf("Image warning: %s\n", finding.Describe().c_str());
        return report.ExitStatus;
    }
    if (!gang.empty()) return ps::RunGang(gang, childArgs, iniPath);
    if (checkImages || strictImages) {
        const auto findings = ps::CheckProjectImages(ps::SelectCurrentProject(iniPath), stepArgs);
        for (const auto& finding : findings)
            std::fprintf(stderr, "%s\n", finding.Describe().c_str());
        if (strictImages && !findings.empty()) {
            std::fprintf(stderr,
                         "progstation-cli: --strict-images: %zu damaged record(s); nothing was "
                         "sent\n",
                         findings.size());
            return ps::ExitImageFile;
        }
    }

    ps::RealClock clock;
    const bool terminal = isatty(STDOUT_FILENO) != 0;
    // A gang's run marks its error lines red whatever its output is: its gang reads the
    // colour of each status line from the mark, and takes the mark off.
    ps::TerminalView view(stdout, ps::UseColour(terminal) || gangPort, terminal);
    view.SetQuiet(quiet);
    ps::Station st(clock, view);
    view.Attach(&st);
    st.IniPath = iniPath;
    st.ProgramFolder = ProgramFolder();
    st.CommandLineArgs = stepArgs;
    st.SilenceLimitMs = silenceLimitMs;
    st.WaitPortMs = waitPortMs;
    ps::RunRecorder recorder;
    bool recordLost = false;
    if (!recordFile.empty()) {
        recorder.Version = ps::VersionText();
        recorder.Sink = RecordSink(recordFile, recordLost);
        st.Recorder = &recorder;
    }

    std::FILE* traceOut = nullptr;
    std::unique_ptr<ps::WireTrace> trace;
    if (!traceFile.empty()) {
        traceOut = OpenTrace(traceFile);
        if (!traceOut) {
            return UsageError("cannot write the trace file " + traceFile + " (" +
                              std::strerror(errno) + ")");
        }
        trace = std::make_unique<ps::WireTrace>(clock, traceOut);
        st.Comm.SetTrace(trace.get());
        view.SetTrace(trace.get(), traceOut, traceFile);
    }
    if (verbose) {
        if (!trace) trace = std::make_unique<ps::WireTrace>(clock, nullptr);
        trace->AlsoTo(stderr);
        st.Comm.SetTrace(trace.get());
    }
    ps::SetUpPorts(st, clock);

    bool first = true;
    ps::ActivateStation(st, first);
    st.SelectedPort = port;
    if (!quiet) std::printf("%s\n", st.Project.Label().c_str());
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
    const int status = FinalStatus(ps::ExitStatusFor(st), recordLost);
    if (quiet) std::printf("exit status %d\n", status);
    if (traceOut) std::fclose(traceOut);
    return status;
}

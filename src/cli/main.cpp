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
#include "app/RunController.h"
#include "app/StartUp.h"
#include "app/Station.h"
#include "cli/PortSetup.h"
#include "cli/TerminalView.h"
#include "link/Clock.h"
#include "link/WireTrace.h"
#include "projects/Settings.h"
#include "projects/ShowSteps.h"

namespace {

constexpr const char* Usage =
    "usage: progstation-cli [--ini PATH] [--port N] [--trace FILE] [AUTO[=n]] [step lines...]\n"
    "       progstation-cli --show-steps [--ini PATH] [step lines...]\n"
    "\n"
    "Runs the current project (the step file \"upgrade.cfg\" in the current folder) at once,\n"
    "as the desktop station's START does, and exits with the run's status.\n"
    "\n"
    "  --ini PATH     settings file to use instead of PROGRAMMER.INI in the program's folder\n"
    "                 (or ~/.config/progstation/PROGRAMMER.INI when that folder is read-only);\n"
    "                 a missing file means default settings\n"
    "  --port N       COM port 1..4 (default 1); [Ports] COMn=... in the settings file or the\n"
    "                 environment variable PROGSTATION_COMn=... map it to a device or to a\n"
    "                 simulated board (sim:NAME[,options]; see boardsim --help)\n"
    "  --trace FILE   write every port event to FILE (ms since start, then the event)\n"
    "  --show-steps   print the settings of every step as a run would load them, and exit\n"
    "  --help         this text\n"
    "Other arguments are applied to every step as step-file lines (\"/AUTOCONTINUE\").\n"
    "While a step waits for CONTINUE, a line on standard input continues and the end of\n"
    "input stops. Ctrl-C (SIGINT, SIGTERM) is STOP; a second Ctrl-C exits at once.\n"
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
    "  64  bad command-line usage\n";

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
    std::vector<std::string> stepArgs;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](const char* option, std::string& out) {
            if (i + 1 >= argc) return false;
            out = argv[++i];
            (void)option;
            return true;
        };
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
        } else if (a == "--show-steps") {
            showSteps = true;
        } else if (a.size() > 2 && a.compare(0, 2, "--") == 0) {
            return UsageError("unknown option " + a);
        } else {
            stepArgs.push_back(a);
        }
    }

    const std::string iniPath = ps::LocateSettingsFile(ProgramFolder(), iniOverride);
    if (showSteps) {
        const ps::ShowStepsReport report =
            ps::ShowSteps(ps::SelectCurrentProject(iniPath), stepArgs);
        std::fputs(report.Text.c_str(), stdout);
        return report.ExitStatus;
    }

    ps::RealClock clock;
    const bool terminal = isatty(STDOUT_FILENO) != 0;
    ps::TerminalView view(stdout, terminal, terminal);
    ps::Station st(clock, view);
    view.Attach(&st);
    st.IniPath = iniPath;
    st.ProgramFolder = ProgramFolder();
    st.CommandLineArgs = stepArgs;

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
    ps::SetUpPorts(st, clock);

    bool first = true;
    ps::ActivateStation(st, first);
    st.SelectedPort = port;
    std::printf("%s\n", st.Project.Label().c_str());
    ps::InstallStopSignals();
    ps::StartBtnClick(st);
    view.Finish();
    if (st.LastRunEnd == ps::Station::RunEnd::PortNotOpened && !st.LastPortError.empty()) {
        std::fprintf(stderr, "%s\n", st.LastPortError.c_str());
        const std::string hint = ps::PortOpenHint(st);
        if (!hint.empty()) std::fprintf(stderr, "%s\n", hint.c_str());
    }
    if (traceOut) std::fclose(traceOut);
    return ps::ExitStatusFor(st);
}

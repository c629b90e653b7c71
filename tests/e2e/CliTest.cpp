// SPDX-License-Identifier: MIT
// The terminal station as a production script runs it: the real program, a simulated board
// (in-process or behind boardsim's pseudo-terminal), and the exit status and output a script
// sees.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

#include "link/PseudoTerminal.h"
#include "support/ChildProgram.h"
#include "support/StationHarness.h"

namespace {

const std::string Cli = std::string(PS_BINARY_DIR) + "/progstation-cli";
const std::string Boardsim = std::string(PS_BINARY_DIR) + "/boardsim";

struct Outcome {
    int Status = -1;
    std::string Output;
};

// Runs the program in `dir` with extra environment, feeding `input` on standard input
// (closed afterwards; after `onStart` when there is one). `onStart` may act on the running
// child (signals).
Outcome RunProgram(const std::string& program, const std::vector<std::string>& args,
                   const std::string& dir, const std::map<std::string, std::string>& env,
                   const std::string& input = "",
                   const std::function<void(pid_t, int outFd)>& onStart = nullptr) {
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0) return {};
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(out[1], 2);
        close(in[1]);
        close(out[0]);
        pstest::ExecProgram(program, args, dir, env);
    }
    close(in[0]);
    close(out[1]);
    // A program that does not end is killed, which also ends every read of its output.
    pstest::ChildDeadline deadline(pid);
    if (!input.empty()) (void)!write(in[1], input.data(), input.size());
    if (!onStart) close(in[1]);
    if (onStart) {
        onStart(pid, out[0]);
        close(in[1]);
    }
    Outcome o;
    char buffer[4096];
    for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) o.Output.append(buffer, n);
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    deadline.Cancel();
    EXPECT_FALSE(deadline.Killed())
        << program << " did not end within " << pstest::ProgramLimit.count() << " ms; its output:\n"
        << o.Output;
    o.Status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return o;
}

struct CliTest : ::testing::Test {
    // An empty settings file: a missing one would be warned of on every run.
    CliTest() { dir.Write("PROGRAMMER.INI", ""); }
    pstest::TempDir dir;
    std::map<std::string, std::string> env{{"PROGSTATION_COM1", "sim:generic,flash=3"}};
    void Steps(const std::vector<std::string>& lines) {
        dir.Write("upgrade.cfg", pstest::StepLines(lines));
    }
    Outcome Run(std::vector<std::string> args, const std::string& input = "") {
        args.insert(args.begin(), {"--ini", dir.File("PROGRAMMER.INI")});
        return RunProgram(Cli, args, dir.Path(), env, input);
    }
};

TEST_F(CliTest, ARunOfNoneStepsEndsInSuccessAndTheTraceShowsTheWire) {
    Steps({"/BOOTSIGNAL=RTS0", "/BOOT", "/BANKPORT=$0102", "/SINHRO", "/AUTOCONTINUE"});
    const Outcome o = Run({"--trace", dir.File("trace.txt")});
    EXPECT_EQ(o.Status, 0) << o.Output;
    EXPECT_NE(o.Output.find("programed ok!"), std::string::npos) << o.Output;
    std::ifstream trace(dir.File("trace.txt"));
    std::stringstream text;
    text << trace.rdbuf();
    for (const char* event :
         {" OPEN COM1 sim:generic,flash=3 115200\n", " RTS 0\n", " TX 78\n", " RX 79\n", " TX 01\n",
          " TX 02\n", " RX 7D\n", " TX 73\n", " RX 69\n", " RTS 1\n", " CLOSE\n"})
        EXPECT_NE(text.str().find(event), std::string::npos) << event << "\n" << text.str();
}

TEST_F(CliTest, ExitStatusesTellAScriptWhatHappened) {
    EXPECT_EQ(Run({}).Status, 10);  // no step file
    const Outcome noFile = Run({});
    EXPECT_NE(noFile.Output.find("ERROR : opening file."), std::string::npos);

    Steps({"/AUTOCONTINUE"});
    env["PROGSTATION_COM2"] = "/nonexistent/port";  // never a real /dev/ttyS* in a test
    const Outcome badPort = Run({"--port", "2"});
    EXPECT_EQ(badPort.Status, 11);
    EXPECT_NE(badPort.Output.find("ERROR : opening COM port."), std::string::npos);
    EXPECT_NE(badPort.Output.find("Invalid port number (COM2)"), std::string::npos);

    EXPECT_EQ(Run({"--port", "5"}).Status, 64);
    EXPECT_EQ(Run({"--bogus"}).Status, 64);

    Steps({"/AT_PROG_EE=two", "/AUTOCONTINUE"});
    EXPECT_EQ(Run({}).Status, 10);
    // Every model has its flow now, so 13 cannot come from a step file; a step asking for
    // what its model cannot do is refused as a bad value before anything is sent.
    Steps({"/PE=emulator.hex", "/CHECKSUM", "/AUTOCONTINUE"});
    EXPECT_EQ(Run({}).Status, 10);
    Steps({"/ERASESECTORS=1", "/AUTOCONTINUE"});
    env["PROGSTATION_COM1"] = "sim:generic,negative";
    EXPECT_EQ(Run({}).Status, 3);
    Steps({"/FLASHID", "/AUTOCONTINUE"});
    env["PROGSTATION_COM1"] = "sim:generic,flash=9";
    EXPECT_EQ(Run({}).Status, 2);
}

TEST_F(CliTest, ContinueComesFromALineOnInputAndTheEndOfInputIsStop) {
    Steps({"/SINHRO"});
    const Outcome continued = Run({}, "\n");
    EXPECT_EQ(continued.Status, 0) << continued.Output;
    EXPECT_NE(continued.Output.find("waiting for CONTINUE"), std::string::npos);

    const Outcome stopped = Run({});
    EXPECT_EQ(stopped.Status, 1) << stopped.Output;
    EXPECT_NE(stopped.Output.find("BREAK"), std::string::npos);
}

// An idle station sleeps until something happens; an interrupt is something, wherever it
// waits (standard input stays open, so only the signal can end the CONTINUE pause).
TEST_F(CliTest, InterruptStopsARunWhereverItWaits) {
    ps::test::PseudoTerminal pty;  // a board that never answers
    ASSERT_TRUE(pty.Ok());
    const struct {
        const char* Port;
        std::vector<std::string> Steps;
        const char* WaitingText;
    } cases[] = {
        {"sim:generic,silent", {"/SINHRO", "/AUTOCONTINUE"}, "connecting..."},
        {nullptr, {"/SINHRO", "/AUTOCONTINUE"}, "connecting..."},
        {"sim:generic", {"/SINHRO"}, "waiting for CONTINUE"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Port ? c.Port : pty.SlavePath());
        Steps(c.Steps);
        env["PROGSTATION_COM1"] = c.Port ? c.Port : pty.SlavePath();
        std::string early;  // what the program printed before the interrupt
        const Outcome o = RunProgram(Cli, {"--ini", dir.File("PROGRAMMER.INI")}, dir.Path(), env,
                                     "", [&](pid_t pid, int out) {
                                         char ch;
                                         while (early.find(c.WaitingText) == std::string::npos &&
                                                read(out, &ch, 1) == 1)
                                             early += ch;
                                         kill(pid, SIGINT);
                                     });
        EXPECT_EQ(o.Status, 1) << early << o.Output;
        EXPECT_NE(o.Output.find("BREAK"), std::string::npos) << early << o.Output;
    }
}

TEST_F(CliTest, ShowStepsPrintsEveryStepAsARunLoadsIt) {
    Steps({"/PA=a.hex", "/BAUDRATE=9600", "*** NEXT ***", "/ATMEL=6"});
    const Outcome o = Run({"--show-steps", "/AUTOCONTINUE"});
    EXPECT_EQ(o.Status, 0);
    EXPECT_EQ(
        o.Output.rfind("[step 1]\nResult=0\nProgramFile=A.HEX\nModelIndex=7\nBaudRate=9600\n", 0),
        0u)
        << o.Output;
    EXPECT_NE(o.Output.find("[step 2]\nResult=0\nProgramFile=\nModelIndex=-1\nBaudRate=9600\n"),
              std::string::npos);
    EXPECT_NE(o.Output.find("AutoContinue=1"), std::string::npos);
    EXPECT_EQ(o.Output.find("[step 3]"), std::string::npos);
}

// boardsim serving a board on a pseudo-terminal for the length of a test.
class BoardsimProcess {
public:
    explicit BoardsimProcess(const char* board) {
        int out[2];
        if (pipe(out) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], 1);
            const int null = open("/dev/null", O_WRONLY);
            dup2(null, 2);
            close(out[0]);
            execl(Boardsim.c_str(), Boardsim.c_str(), board, static_cast<char*>(nullptr));
            _exit(127);
        }
        close(out[1]);
        // Serving the board for the length of a test; one that outlives that is killed.
        deadline_ = std::make_unique<pstest::ChildDeadline>(pid_);
        // It prints the terminal to use, then serves the board until it is stopped.
        std::string line;
        char c;
        while (read(out[0], &c, 1) == 1 && c != '\n') line += c;
        close(out[0]);
        if (line.rfind("port: ", 0) == 0) port_ = line.substr(6);
    }
    ~BoardsimProcess() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
            if (deadline_) deadline_->Cancel();
        }
    }
    const std::string& Port() const { return port_; }

private:
    pid_t pid_ = -1;
    std::string port_;
    std::unique_ptr<pstest::ChildDeadline> deadline_;
};

std::string ReadFile(const std::string& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

TEST_F(CliTest, RunsThroughBoardsimOnAPseudoTerminal) {
    Steps({"/BANKPORT=$4321", "/SINHRO", "/AUTOCONTINUE"});
    BoardsimProcess sim("generic");
    ASSERT_FALSE(sim.Port().empty());
    env["PROGSTATION_COM1"] = sim.Port();
    const Outcome o = Run({"--trace", dir.File("trace.txt")});
    EXPECT_EQ(o.Status, 0) << o.Output;
    const std::string trace = ReadFile(dir.File("trace.txt"));
    EXPECT_NE(trace.find(" TX 43\n"), std::string::npos) << trace;
    EXPECT_NE(trace.find(" RX 7D\n"), std::string::npos) << trace;
}

TEST_F(CliTest, APseudoTerminalThatGoesAwayEndsTheRunWithAPortError) {
    // The board drops off the line after three bytes: boardsim closes its terminal, as a
    // USB adapter pulled out would. The run must end with an error, not wait for STOP.
    Steps({"/BANKPORT=$4321", "/SINHRO", "/AUTOCONTINUE"});
    BoardsimProcess sim("generic,drop=3");
    ASSERT_FALSE(sim.Port().empty());
    env["PROGSTATION_COM1"] = sim.Port();
    const Outcome o = Run({});
    EXPECT_EQ(o.Status, 11) << o.Output;
    EXPECT_NE(o.Output.find("ERROR : COM port failed: "), std::string::npos) << o.Output;
}

TEST_F(CliTest, HostileOptionsNeverBlockAndWarnOnce) {
    // An image whose second record has a wrong checksum: it loads, with one warning on
    // standard error and in the trace.
    Steps({"/PA=image.hex", "/ATMEL=6", "/ADDRLEN=2048", "/CHECKSUM", "/AUTOCONTINUE"});
    dir.Write("image.hex", ":0400000001020304F2\n:0400040005060708DF\n:00000001FF\n");
    env["PROGSTATION_COM1"] = "sim:avr,proc=6";
    mkfifo(dir.File("fifo").c_str(), 0644);
    auto count = [](const std::string& text, const std::string& part) {
        int n = 0;
        for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
            ++n;
        return n;
    };
    struct Row {
        std::vector<std::string> Args;
        int Status;
        std::string Said;  // once on the output
    };
    const std::string ini = dir.File("PROGRAMMER.INI");
    const std::vector<Row> rows = {
        {{"--ini", dir.Path()}, 64, "--ini names a folder"},
        {{"--ini", dir.File("none.ini"), "--show-steps"},
         0,
         "none.ini does not exist; default settings are used"},
        {{"--ini", ini, "--trace", dir.File("fifo")}, 64, "cannot write the trace file"},
        {{"--ini", ini, "--trace", "/dev/full"}, 0, "cannot be written; the run goes on"},
        {{"--ini", ini, "--trace", dir.File("trace.txt"), "--record", dir.File("runs.jsonl")},
         0,
         "warning: WRONG RECORD CHECKSUM: IMAGE.HEX line 2"},
    };
    for (const Row& row : rows) {
        const Outcome o = RunProgram(Cli, row.Args, dir.Path(), env);
        EXPECT_EQ(row.Status, o.Status) << o.Output;
        EXPECT_EQ(1, count(o.Output, row.Said)) << o.Output;
    }
    EXPECT_EQ(1, count(ReadFile(dir.File("trace.txt")), "WARNING WRONG RECORD CHECKSUM"));
    EXPECT_EQ(1, count(ReadFile(dir.File("runs.jsonl")), "\"warnings\":[\"WRONG RECORD CHECKSUM"));
}

}  // namespace

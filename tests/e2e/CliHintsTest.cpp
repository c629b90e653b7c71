// SPDX-License-Identifier: MIT
// What the terminal station tells a newcomer beside its status lines: hints on standard
// error that name what was tried, the quiet and verbose shapes of its output, and colour
// only on a terminal that wants it. Standard output, which scripts read, keeps its shape.
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "support/ChildProgram.h"
#include "support/StationHarness.h"

namespace {

const std::string Cli = std::string(PS_BINARY_DIR) + "/progstation-cli";

using Result = pstest::ProgramResult;

void Exec(const std::vector<std::string>& args, const std::string& dir,
          const std::map<std::string, std::string>& env) {
    pstest::ExecProgram(Cli, args, dir, env);
}

// Standard output and standard error apart, input closed.
Result RunCli(const std::vector<std::string>& args, const std::string& dir,
              const std::map<std::string, std::string>& env) {
    return pstest::RunChildProgram(Cli, args, dir, env, true);
}

// On a pseudo-terminal, as a person at a terminal sees it (both streams together).
Result RunOnTerminal(const std::vector<std::string>& args, const std::string& dir,
                     const std::map<std::string, std::string>& env) {
    int master = -1;
    const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    if (pid == 0) Exec(args, dir, env);
    pstest::ChildDeadline deadline(pid);
    Result r;
    char buffer[4096];
    for (ssize_t n; (n = read(master, buffer, sizeof buffer)) > 0;) r.Out.append(buffer, n);
    close(master);
    int status = 0;
    waitpid(pid, &status, 0);
    deadline.Cancel();
    EXPECT_FALSE(deadline.Killed()) << "the program did not end; its output:\n" << r.Out;
    r.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

struct HintCase {
    const char* Name;
    std::vector<std::string> Steps;  // empty: no step file at all
    std::map<std::string, std::string> Env;
    int Status;
    std::vector<std::string> Hints;  // "{dir}" stands for the test's folder
};

TEST(CliHints, EachFailureSaysWhatWasTriedAndStandardOutputKeepsItsShape) {
    const std::vector<HintCase> cases = {
        {"no project", {}, {}, 10,
         {"hint: tried the step file {dir}/upgrade.cfg: it does not exist",
          "hint: ready projects, one per model: "}},
        {"port mapped to a missing device",
         {"/SINHRO", "/AUTOCONTINUE"},
         {{"PROGSTATION_COM1", "/nonexistent/ttyUSB7"}},
         11,
         {"hint: COM1 is /nonexistent/ttyUSB7, from the environment (PROGSTATION_COM1)",
          "hint: /nonexistent/ttyUSB7 does not exist", "map COM1 with [Ports] COM1="}},
        {"image in another case",
         {"/PA=Firmware.hex", "/ATMEL=6", "/AUTOCONTINUE"},
         {{"PROGSTATION_COM1", "sim:avr"}},
         12,
         {"hint: step 1 names the image FIRMWARE.HEX; tried {dir}/FIRMWARE.HEX: found as "
          "{dir}/firmware.hex; it is not an image this model reads"}},
        {"step file with LF-only line ends",
         {"/PA=firmware.hex\n/ATMEL=6\n/AUTOCONTINUE"},
         {{"PROGSTATION_COM1", "sim:avr"}},
         12,
         {"hint: the step file's lines end in LF alone"}},
        {"bad value",
         {"/AUTOCONTINUE", "/SINHRO", "/AT_PROG_EE=two"},
         {{"PROGSTATION_COM1", "sim:avr"}},
         10,
         {"hint: step 1, line 3 of {dir}/upgrade.cfg: /AT_PROG_EE=two"}},
    };
    for (const HintCase& c : cases) {
        SCOPED_TRACE(c.Name);
        pstest::TempDir dir;
        if (!c.Steps.empty()) dir.Write("upgrade.cfg", pstest::StepLines(c.Steps));
        if (std::string(c.Name) == "image in another case")
            dir.Write("firmware.hex", "no records in here\r\n");
        const Result r = RunCli({"--ini", dir.File("PROGRAMMER.INI")}, dir.Path(), c.Env);
        EXPECT_EQ(c.Status, r.Status) << r.Out << r.Err;
        for (std::string hint : c.Hints) {
            for (auto at = hint.find("{dir}"); at != std::string::npos; at = hint.find("{dir}"))
                hint.replace(at, 5, dir.Path());
            EXPECT_NE(std::string::npos, r.Err.find(hint)) << hint << "\n" << r.Err;
        }
        EXPECT_EQ(std::string::npos, r.Out.find("hint: ")) << r.Out;
        EXPECT_EQ(std::string::npos, r.Out.find('\033')) << r.Out;
        if (c.Steps.empty()) {
            EXPECT_EQ("UPGRADE: upgrade.cfg\nERROR : opening file.\n", r.Out);
        }
    }
}

TEST(CliHints, QuietShowsEachStepsVerdictAndVerboseTheWire) {
    pstest::TempDir dir;
    dir.Write("upgrade.cfg", pstest::StepLines({"/SINHRO", "/AUTOCONTINUE"}));
    const std::map<std::string, std::string> env{{"PROGSTATION_COM1", "sim:generic"}};
    const std::string ini = dir.File("PROGRAMMER.INI");

    const Result quiet = RunCli({"-q", "--ini", ini}, dir.Path(), env);
    EXPECT_EQ(0, quiet.Status);
    EXPECT_EQ("programed ok!\nexit status 0\n", quiet.Out);

    const Result verbose = RunCli({"--verbose", "--ini", ini}, dir.Path(), env);
    EXPECT_EQ(0, verbose.Status);
    EXPECT_NE(std::string::npos, verbose.Out.find("connecting... ok")) << verbose.Out;
    // Every port event, with its milliseconds, on standard error only.
    EXPECT_NE(std::string::npos, verbose.Err.find(" OPEN COM1 sim:generic 115200\n")) << verbose.Err;
    EXPECT_NE(std::string::npos, verbose.Err.find(" TX 73\n")) << verbose.Err;
    EXPECT_NE(std::string::npos, verbose.Err.find(" RX 69\n")) << verbose.Err;
    EXPECT_EQ(std::string::npos, verbose.Out.find(" TX 73")) << verbose.Out;

    EXPECT_EQ(64, RunCli({"-q", "-v", "--ini", ini}, dir.Path(), env).Status);
}

TEST(CliHints, ErrorLinesAreRedOnATerminalUnlessNoColourIsAsked) {
    pstest::TempDir dir;
    const std::string ini = dir.File("PROGRAMMER.INI");
    const Result red = RunOnTerminal({"--ini", ini}, dir.Path(), {});
    EXPECT_EQ(10, red.Status);
    EXPECT_NE(std::string::npos, red.Out.find("\033[31mERROR : opening file.\033[0m")) << red.Out;
    const Result plain = RunOnTerminal({"--ini", ini}, dir.Path(), {{"NO_COLOR", "1"}});
    EXPECT_EQ(10, plain.Status);
    EXPECT_NE(std::string::npos, plain.Out.find("ERROR : opening file.")) << plain.Out;
    EXPECT_EQ(std::string::npos, plain.Out.find('\033')) << plain.Out;
}

}  // namespace

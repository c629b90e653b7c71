// SPDX-License-Identifier: MIT
#include <algorithm>
// The desktop program itself, started as a script would start it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <QProcess>
#include <fstream>
#include <sstream>

#include "run/ExitStatus.h"
#include "projects/TempDir.h"

namespace {

// The station's COM1 on a pseudo-terminal whose far side stays silent. The other COM
// numbers lead nowhere, so the program can never reach a real serial device.
class SilentLine {
public:
    SilentLine() {
        if (openpty(&master_, &slave_, name_, nullptr, nullptr) != 0) master_ = slave_ = -1;
    }
    ~SilentLine() {
        if (master_ >= 0) close(master_);
        if (slave_ >= 0) close(slave_);
    }
    bool Ok() const { return master_ >= 0; }
    std::string Path() const { return name_; }

private:
    int master_ = -1, slave_ = -1;
    char name_[256] = {};
};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

struct ProgramResult {
    bool Finished;
    int Status;
};

ProgramResult RunProgram(const ps::test::TempDir& dir, const std::string& com1,
                         const QStringList& args) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("PROGSTATION_COM1", QString::fromStdString(com1));
    for (int n = 2; n <= 10; ++n)
        env.insert(QString("PROGSTATION_COM%1").arg(n), "/nonexistent/port");
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(QString::fromStdString(dir.Path()));
    p.start(PS_PROGSTATION, args);
    // A guard against a hang only; nothing here depends on how long the program takes.
    bool finished = p.waitForFinished(60000);
    if (!finished) p.kill(), p.waitForFinished();
    return {finished, p.exitCode()};
}

}  // namespace

TEST(Program, AutoRunsTheProjectAndEndsWithItsStatus) {
    SilentLine line;
    if (!line.Ok()) GTEST_SKIP() << "no pseudo-terminal";
    ps::test::TempDir dir;
    dir.Write("upgrade.cfg", "/BOOT\r\n/RESET\r\n/AUTOCONTINUE\r\n");
    std::string ini = dir.Write("PROGRAMMER.INI", "[INIT]\r\nExtraParameters=\r\n");
    std::string trace = dir.File("trace.txt");
    ProgramResult r = RunProgram(
        dir, line.Path(),
        {"auto", "--ini", QString::fromStdString(ini), "--trace", QString::fromStdString(trace)});
    ASSERT_TRUE(r.Finished);
    EXPECT_EQ(r.Status, ps::ExitSuccess);
    std::string events = ReadFile(trace);
    EXPECT_NE(events.find("OPEN COM1 " + line.Path()), std::string::npos) << events;
    EXPECT_NE(events.find("CLOSE"), std::string::npos) << events;
}

TEST(Program, RefusesBadUsage) {
    SilentLine line;
    ps::test::TempDir dir;
    EXPECT_EQ(RunProgram(dir, line.Path(), {"--ini"}).Status, ps::ExitUsage);
    EXPECT_EQ(RunProgram(dir, line.Path(), {"--colour", "red"}).Status, ps::ExitUsage);
    EXPECT_EQ(RunProgram(dir, line.Path(), {"--help"}).Status, ps::ExitSuccess);
}

// Help and version are answered without a window system: no display, and a platform that
// would need one.
TEST(Program, HelpAndVersionNeedNoDisplay) {
    for (const char* option : {"--help", "--version"}) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        env.insert("QT_QPA_PLATFORM", "xcb");
        p.setProcessEnvironment(env);
        p.start(PS_PROGSTATION, {option});
        ASSERT_TRUE(p.waitForFinished(60000)) << option;
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit) << option;
        EXPECT_EQ(p.exitCode(), 0) << option;
        EXPECT_TRUE(p.readAllStandardOutput().startsWith(
            std::string(option) == "--help" ? "usage: progstation" : "progstation "))
            << option;
    }
}

TEST(Program, AutoRunsAgainstASimulatedBoard) {
    ps::test::TempDir dir;
    // The bank port exchange needs a board that answers: the simulated one on COM1.
    dir.Write("upgrade.cfg", "/BOOT\r\n/RESET\r\n/BANKPORT=1234\r\n/AUTOCONTINUE\r\n");
    std::string ini = dir.Write("PROGRAMMER.INI", "[INIT]\r\n");
    std::string trace = dir.File("trace.txt");
    std::string record = dir.File("runs.jsonl");
    ProgramResult r = RunProgram(
        dir, "sim:generic",
        {"Auto", "--ini", QString::fromStdString(ini), "--trace", QString::fromStdString(trace),
         "--record", QString::fromStdString(record)});
    ASSERT_TRUE(r.Finished);
    EXPECT_EQ(r.Status, ps::ExitSuccess) << ReadFile(trace);
    EXPECT_NE(ReadFile(trace).find("OPEN COM1 sim:generic"), std::string::npos) << ReadFile(trace);
    // The desktop station keeps run records as the terminal station does: one line a run.
    const std::string line = ReadFile(record);
    EXPECT_EQ(1, std::count(line.begin(), line.end(), '\n')) << line;
    EXPECT_NE(line.find("\"exit_status\":0"), std::string::npos) << line;
}

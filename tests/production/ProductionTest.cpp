// SPDX-License-Identifier: MIT
// The production-line additions: the silence limit under the virtual clock, run records
// as a script reads them back, image warnings, and a gang of boards whose runs go each
// their own way.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <sstream>

#include "run/ExitStatus.h"
#include "production/ImageCheck.h"
#include "production/RunRecord.h"
#include "production/Sha256.h"
#include "records/RecordFile.h"
#include "sim/Board.h"
#include "support/ChildProgram.h"
#include "support/StationHarness.h"
#include "targets/avr/AvrRig.h"

namespace ps {
namespace {

const std::string Cli = std::string(PS_BINARY_DIR) + "/progstation-cli";

std::unique_ptr<sim::Board> Board(const std::string& spec) {
    std::string error;
    auto board = sim::MakeBoard(spec, error);
    EXPECT_TRUE(board) << error;
    return board;
}

TEST(SilenceLimit, EndsAWaitOnASilentBoardAtTheLimitAndOnlyThen) {
    struct Case {
        const char* Spec;
        int64_t LimitMs;
        int Exit;
    } cases[] = {
        {"generic,silent", 30000, RunBoardSilent},  // never answers: ends at 30 s
        {"generic,late=2000", 3000, ExitSuccess},   // slow, but within the limit
        {"generic", 0, ExitSuccess},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Spec);
        pstest::StationHarness h(Board(c.Spec));
        h.StepFile({"/SINHRO", "/AUTOCONTINUE"});
        h.st.SilenceLimitMs = c.LimitMs;
        // A run the limit does not end is stopped at ten minutes and fails the test.
        bool stoppedByTest = false;
        h.view.AtTime(600000, [&] {
            stoppedByTest = true;
            StopBtnClick(h.st);
        });
        const int exit = h.Run();
        EXPECT_FALSE(stoppedByTest);
        EXPECT_EQ(c.Exit, exit) << h.view.Dump();
        if (c.Exit == RunBoardSilent) {
            EXPECT_EQ("ERROR : no answer from the board for 30 s", h.view.LastStatus());
            EXPECT_GE(h.clock.NowMs(), 30000);
            EXPECT_LT(h.clock.NowMs(), 32000);  // setup pauses plus one handshake round
            EXPECT_FALSE(h.view.SawStatus("BREAK"));
        }
    }
    // STOP still wins over a limit that has not run out.
    pstest::StationHarness h(Board("generic,silent"));
    h.StepFile({"/SINHRO", "/AUTOCONTINUE"});
    h.st.SilenceLimitMs = 30000;
    h.view.AtTime(5000, [&] { StopBtnClick(h.st); });
    EXPECT_EQ(ExitBreak, h.Run());
    EXPECT_EQ("BREAK", h.view.LastStatus());
}

TEST(RunRecords, OneLinePerRunWithEveryStepAndItsImage) {
    pstest::StationHarness h(Board("generic,flash=3"));
    avrtest::InFolder inFolder(h.dir.Path());
    h.dir.Write("a.hex", ":00000001FF\r\n");
    h.StepFile({"/SINHRO", "/CHECKSUM", "/AUTOCONTINUE"});
    RunRecorder recorder;
    recorder.Version = "9.9";
    std::vector<RunRecord> records;
    recorder.Sink = [&](const RunRecord& r) { records.push_back(r); };
    h.st.Recorder = &recorder;
    ASSERT_EQ(ExitSuccess, h.Run()) << h.view.Dump();
    ASSERT_EQ(1u, records.size());
    const RunRecord& r = records[0];
    EXPECT_EQ("9.9", r.Version);
    EXPECT_EQ(1, r.Port);
    EXPECT_EQ(0, r.ExitStatus);
    ASSERT_EQ(1u, r.Steps.size());
    EXPECT_EQ("None", r.Steps[0].Model);
    EXPECT_EQ("programed ok!        check sum OK", r.Steps[0].Result);
    EXPECT_TRUE(r.Steps[0].TargetChecksum.has_value());
    EXPECT_GT(r.Steps[0].BytesSent, 0);
    EXPECT_GT(r.Steps[0].BytesReceived, 0);
    EXPECT_GT(r.Steps[0].DurationMs, 0);
    EXPECT_LE(r.Steps[0].DurationMs, r.DurationMs);
    // Written, the record is one line that ends the file.
    const std::string path = h.dir.File("runs.jsonl");
    std::string error;
    ASSERT_TRUE(AppendRecord(path, r, error)) << error;
    ASSERT_TRUE(AppendRecord(path, r, error)) << error;
    std::ifstream in(path);
    std::string line;
    int lines = 0;
    while (std::getline(in, line)) {
        ++lines;
        EXPECT_EQ('{', line.front());
        EXPECT_EQ('}', line.back());
    }
    EXPECT_EQ(2, lines);
    // The standard test vectors: a wrong digest would name another build.
    EXPECT_EQ("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855",
              Sha256Hex(nullptr, 0));
    const std::string abc = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    EXPECT_EQ("248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1",
              Sha256Hex(reinterpret_cast<const uint8_t*>(abc.data()), abc.size()));
}

TEST(ImageWarnings, DamagedRecordsAreNamedWithFileLineAndBothValues) {
    pstest::TempDir dir;
    dir.Write("a.hex",
              ":0400000001020304F2\r\n"      // good
              ":0400100001020304E3\r\n"      // checksum: E2 is right
              ":0400200001020304\r\n"        // short: no checksum byte
              ":00000001FF\r\n");
    dir.Write("b.mhx",
              "S107000001020304EE\r\n"       // good
              "S10700100102030400\r\n"       // checksum: DE is right
              "S9030000FC\r\n");
    const auto a = CheckImageFile(dir.File("a.hex"), 7);
    ASSERT_EQ(2u, a.size());
    EXPECT_EQ(dir.File("a.hex") + ":2: record checksum 0xE3, computed 0xE2", a[0].Describe());
    EXPECT_EQ(3, a[1].Line);
    EXPECT_NE(std::string::npos, a[1].Text.find("length field 0x04")) << a[1].Text;
    const auto b = CheckImageFile(dir.File("b.mhx"), 1);
    ASSERT_EQ(1u, b.size());
    EXPECT_EQ(dir.File("b.mhx") + ":2: record checksum 0x00, computed 0xDE", b[0].Describe());
    // Model 6 images are DSP records without checksums.
    EXPECT_TRUE(CheckImageFile(dir.File("b.mhx"), 6).empty());
}

using Program = pstest::ProgramResult;

Program RunCli(const std::vector<std::string>& args, const std::string& dir,
               const std::map<std::string, std::string>& env) {
    return pstest::RunChildProgram(Cli, args, dir, env);
}

TEST(Gang, EachPortGoesItsOwnWayAndTheRecordsParseLineByLine) {
    pstest::TempDir dir;
    dir.Write("upgrade.cfg", pstest::StepLines({"/SINHRO", "/ERASESECTORS=1", "/AUTOCONTINUE"}));
    const std::map<std::string, std::string> env{
        {"PROGSTATION_COM1", "sim:generic"},
        {"PROGSTATION_COM2", "sim:generic,silent"},
        {"PROGSTATION_COM3", "sim:generic,negative"},
        {"PROGSTATION_COM4", "sim:generic,drop=3"},
    };
    const std::string record = dir.File("runs.jsonl");
    const Program p = RunCli({"--ini", dir.File("PROGRAMMER.INI"), "--gang", "1,2,3,4",
                              "--silence-limit", "2", "--record", record},
                             dir.Path(), env);
    // The first port in the list that failed gives the status: COM2, silent.
    EXPECT_EQ(RunBoardSilent, p.Status) << p.Out;
    for (const char* row : {"COM1   sim:generic ", "COM2   sim:generic,silent ",
                            "COM3   sim:generic,negative ", "COM4   sim:generic,drop=3 "})
        EXPECT_NE(std::string::npos, p.Out.find(row)) << row << "\n" << p.Out;
    EXPECT_NE(std::string::npos, p.Out.find("COM2: ERROR : no answer from the board for 2 s"))
        << p.Out;
    EXPECT_NE(std::string::npos, p.Out.find("COM3: ERRORS: 1")) << p.Out;
    // An independent parser reads every line; one object per port, each with its status.
    const std::string script =
        "import json,sys\n"
        "runs=[json.loads(l) for l in open(sys.argv[1])]\n"
        "print(' '.join(sorted(r['port']+'='+str(r['exit_status']) for r in runs)))\n";
    const std::string command = "python3 -c \"" + script + "\" " + record + " > " +
                                dir.File("parsed.txt") + " 2>&1";
    ASSERT_EQ(0, std::system(command.c_str())) << pstest::TempDir().Path();
    std::ifstream parsed(dir.File("parsed.txt"));
    std::string line;
    std::getline(parsed, line);
    EXPECT_EQ("COM1=0 COM2=14 COM3=3 COM4=11", line);
}

TEST(Gang, AKilledRunLeavesNoHalfLineAndStrictImagesSendNothing) {
    pstest::TempDir dir;
    dir.Write("upgrade.cfg", pstest::StepLines({"/SINHRO", "/AUTOCONTINUE"}));
    const std::string record = dir.File("runs.jsonl");
    dir.Write("runs.jsonl", "{\"earlier\": 1}\n");
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(dir.Path().c_str()) != 0) _exit(127);
        setenv("PROGSTATION_COM1", "sim:generic,silent", 1);
        execl(Cli.c_str(), Cli.c_str(), "--ini", "PROGRAMMER.INI", "--record", record.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    usleep(300000);  // the run is waiting on the silent board by now, or about to
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    std::ifstream in(record);
    std::stringstream all;
    all << in.rdbuf();
    EXPECT_EQ("{\"earlier\": 1}\n", all.str());

    dir.Write("upgrade.cfg", pstest::StepLines({"/PA=a.hex", "/ATMEL=6", "/AUTOCONTINUE"}));
    dir.Write("a.hex", ":0400000001020304F3\r\n:00000001FF\r\n");  // checksum F2
    const Program strict = RunCli({"--ini", "PROGRAMMER.INI", "--strict-images", "--trace",
                                   "trace.txt"},
                                  dir.Path(), {{"PROGSTATION_COM1", "sim:avr"}});
    EXPECT_EQ(ExitImageFile, strict.Status) << strict.Out;
    EXPECT_NE(std::string::npos, strict.Out.find("a.hex:1: record checksum 0xF3, computed 0xF2"))
        << strict.Out;
    std::ifstream trace(dir.File("trace.txt"));
    std::string traced((std::istreambuf_iterator<char>(trace)), std::istreambuf_iterator<char>());
    EXPECT_EQ(std::string::npos, traced.find("OPEN")) << traced;
}

}  // namespace
}  // namespace ps

// SPDX-License-Identifier: MIT
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "app/RunController.h"
#include "run/Station.h"
#include "link/Link.h"
#include "link/PosixPortDevice.h"
#include "sim/Boards.h"
#include "sim/GenericBoard.h"
#include "sim/PtyHost.h"
#include "sim/RecordingView.h"
#include "support/RunGuard.h"

namespace ps::sim {
namespace {

using Bytes = std::vector<uint8_t>;

// The station's end: the slave opened as a serial port, raw, at a rate.
int OpenStation(const std::string& path, speed_t speed = B9600) {
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return fd;
    termios t{};
    ::tcgetattr(fd, &t);
    ::cfmakeraw(&t);
    ::cfsetispeed(&t, speed);
    ::cfsetospeed(&t, speed);
    ::tcsetattr(fd, TCSANOW, &t);
    return fd;
}

// Writes the bytes, then lets the host work until `want` bytes came back or the station's
// side reports an error. The pass limit only keeps a broken host from hanging the test.
Bytes Exchange(PtyHost& host, int fd, const Bytes& out, size_t want, int* error = nullptr) {
    if (!out.empty()) {
        EXPECT_EQ(::write(fd, out.data(), out.size()), ssize_t(out.size()));
    }
    Bytes got;
    for (int pass = 0; pass < 500 && got.size() < want; ++pass) {
        host.Poll(10);
        uint8_t buf[64];
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0) got.insert(got.end(), buf, buf + n);
        if (n < 0 && errno != EAGAIN) {
            if (error) *error = errno;
            break;
        }
        if (n == 0) {  // a terminal whose other side has gone
            if (error) *error = EIO;
            break;
        }
    }
    return got;
}

std::unique_ptr<Board> Make(const std::string& spec) {
    std::string error;
    auto board = MakeBoard(spec, error);
    EXPECT_NE(board, nullptr) << error;
    return board;
}

TEST(PtyHost, AnswersThroughAPseudoTerminalAndSurvivesReopening) {
    std::FILE* log = std::tmpfile();
    PtyHost host(Make("generic"), log);
    std::string error;
    ASSERT_TRUE(host.Open(error)) << error;
    ASSERT_EQ(host.SlavePath().rfind("/dev/pts/", 0), 0u) << host.SlavePath();

    int fd = OpenStation(host.SlavePath(), B19200);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(Exchange(host, fd, {0x73}, 1), Bytes{0x69});
    EXPECT_EQ(Exchange(host, fd, {0x28}, 2), (Bytes{0x29, 0x03}));
    ::close(fd);

    // The station closes the port between steps and opens it again.
    for (int i = 0; i < 5; ++i) host.Poll(1);
    fd = OpenStation(host.SlavePath(), B38400);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(Exchange(host, fd, {0x32}, 1), Bytes{0x37});
    EXPECT_EQ(Exchange(host, fd, {0x78}, 1), Bytes{0x79});
    EXPECT_EQ(Exchange(host, fd, {0x12, 0x34}, 1), Bytes{0x7D});
    ::close(fd);

    auto& board = dynamic_cast<GenericBoard&>(host.board());
    EXPECT_EQ(board.Erases, 1);
    EXPECT_EQ(board.BankPortValue, 0x1234);
    EXPECT_EQ(board.LastBaud, 38400u);  // seen through the master's terminal settings
    EXPECT_FALSE(host.Gone());

    // The log names the board and shows the traffic in hex.
    std::rewind(log);
    std::string text;
    char line[256];
    while (std::fgets(line, sizeof line, log)) text += line;
    std::fclose(log);
    EXPECT_NE(text.find("board generic"), std::string::npos) << text;
    EXPECT_NE(text.find("BAUD 19200"), std::string::npos) << text;
    EXPECT_NE(text.find("IN  12 34"), std::string::npos) << text;
    // The answer's two bytes leave at their own line times, so they may be logged apart.
    const size_t answer = text.find("OUT 29");
    ASSERT_NE(answer, std::string::npos) << text;
    EXPECT_NE(text.find("03", answer), std::string::npos) << text;
}

TEST(PtyHost, BoardThatDropsOffClosesTheTerminal) {
    PtyHost host(Make("generic,drop=2"), nullptr);
    std::string error;
    ASSERT_TRUE(host.Open(error)) << error;
    int fd = OpenStation(host.SlavePath());
    ASSERT_GE(fd, 0);
    EXPECT_EQ(Exchange(host, fd, {0x73}, 1), Bytes{0x69});
    int err = 0;
    Exchange(host, fd, {0x73, 0x73}, 1, &err);
    EXPECT_TRUE(host.Gone());
    // The station sees its port vanish, not a silent board.
    EXPECT_EQ(err, EIO);
    pollfd p{fd, POLLIN, 0};
    EXPECT_EQ(::poll(&p, 1, 0), 1);
    EXPECT_TRUE(p.revents & POLLHUP);
    ::close(fd);
    std::atomic<bool> stop{false};
    host.Run(stop);  // returns at once: nothing left to serve
}

#ifdef PS_BINARY_DIR
TEST(PtyHost, BoardsimPrintsItsPortAndEndsOnSigterm) {
    const std::string exe = std::string(PS_BINARY_DIR) + "/boardsim";
    if (::access(exe.c_str(), X_OK) != 0) GTEST_SKIP() << "boardsim not built";

    // Usage errors are reported with status 64.
    const std::string bad = exe + " nosuch 2>/dev/null";
    int status = std::system(bad.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 64);

    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::dup2(out[1], 1);
        ::close(out[0]);
        ::execl(exe.c_str(), exe.c_str(), "--log", "/dev/null", "generic", (char*)nullptr);
        ::_exit(127);
    }
    ::close(out[1]);
    pstest::ChildDeadline deadline(pid);  // a boardsim that hangs cannot hang the test
    std::string first;
    char c;
    while (::read(out[0], &c, 1) == 1 && c != '\n') first += c;
    ASSERT_EQ(first.rfind("port: /dev/pts/", 0), 0u) << first;

    int fd = OpenStation(first.substr(6));
    ASSERT_GE(fd, 0);
    uint8_t s = 0x73, answer = 0;
    ASSERT_EQ(::write(fd, &s, 1), 1);
    pollfd p{fd, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 10000), 1);
    EXPECT_EQ(::read(fd, &answer, 1), 1);
    EXPECT_EQ(answer, 0x69);
    ::close(fd);

    ::kill(pid, SIGTERM);
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    deadline.Cancel();
    EXPECT_FALSE(deadline.Killed()) << "boardsim did not end on SIGTERM";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    ::close(out[0]);
}
#endif

}  // namespace
}  // namespace ps::sim

// The whole path a user takes with boardsim: the station's own serial code on the slave.
namespace ps::sim {
namespace {

struct PtyRig {
    RealClock clock;
    pstest::GuardedView view{clock};
    Station st{clock, view};
    PtyHost host;
    std::atomic<bool> stop{false};
    std::thread thread;

    explicit PtyRig(const std::string& spec) : host(Make(spec), nullptr) {
        std::string error;
        EXPECT_TRUE(host.Open(error)) << error;
        const std::string path = host.SlavePath();
        st.Comm.SetResolver([path](int) { return std::make_unique<PosixPortDevice>(path); });
        st.Comm.SetPortNum(1);
        thread = std::thread([this] { host.Run(stop); });
        // The real clock: the wall-clock guard is the bound here.
        view.Stop = [this] { StopBtnClick(st); };
        view.Arm();
    }
    // Closes the station's port and ends the host; the board may be examined afterwards.
    void Finish() {
        st.Comm.Close();
        stop = true;
        if (thread.joinable()) thread.join();
    }
    ~PtyRig() { Finish(); }
};

TEST(PtyHost, StationRunsTheLinkPrimitivesThroughBoardsimsTerminal) {
    PtyRig rig("generic,flash=5");
    rig.st.Comm.Open();
    rig.st.Comm.SetRawBaud(7200);  // a rate outside the standard list
    rig.st.Comm.SetDTR(true);      // a terminal without lines takes this without effect
    Handshake(rig.st, 0x73, 0x69);
    EXPECT_EQ(IdentifyFlash(rig.st), "AM28F020A");
    EXPECT_EQ(rig.st.RunError, 0);
    rig.Finish();
    EXPECT_EQ(dynamic_cast<GenericBoard&>(rig.host.board()).LastBaud, 7200u);
}

TEST(PtyHost, StationSeesTheTerminalVanishWhenTheBoardDrops) {
    PtyRig rig("generic,drop=1");
    rig.st.Comm.Open();
    EXPECT_THROW(
        {
            Handshake(rig.st, 0x73, 0x69);
            Handshake(rig.st, 0x73, 0x69);
        },
        ESerialPortError);
}

}  // namespace
}  // namespace ps::sim

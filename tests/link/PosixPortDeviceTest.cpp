// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>

#include "run/Texts.h"
#include "link/FakeTty.h"
#include "link/PortMap.h"
#include "link/PosixPortDevice.h"
#include "link/PseudoTerminal.h"
#include "link/SerialPort.h"
#include "support/StationHarness.h"

namespace ps {
namespace {

using test::PseudoTerminal;

LineSettings Line8N1(uint32_t baud) {
    LineSettings s;
    s.Baud = baud;
    return s;
}

// Waits (in slices, without timing anything) until the device has count bytes waiting.
long AwaitBytes(PortDevice& d, long count) {
    long n = d.BytesWaiting();
    for (int i = 0; i < 500 && n >= 0 && n < count; ++i) {
        if (d.WaitReadable(10) < 0) return -1;
        n = d.BytesWaiting();
    }
    return n;
}

class PosixPortDeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(pty.Ok()) << "no pseudo-terminals on this machine";
        ASSERT_EQ(dev.Open(), 0);
        ASSERT_EQ(dev.ApplyLineSettings(Line8N1(115200)), 0);
    }
    PseudoTerminal pty;
    PosixPortDevice dev{pty.SlavePath()};
};

TEST_F(PosixPortDeviceTest, BytesPassUnchangedBothWays) {
    EXPECT_EQ(dev.Name(), pty.SlavePath());
    EXPECT_TRUE(dev.IsOpen());
    // Every byte value, XON/XOFF, CR/LF and Ctrl-C included: the line is raw.
    std::vector<uint8_t> all(256);
    for (int i = 0; i < 256; ++i) all[i] = static_cast<uint8_t>(i);
    EXPECT_EQ(dev.Write(all.data(), all.size()), 256);
    EXPECT_EQ(pty.Receive(256), all);
    EXPECT_EQ(dev.DrainOutput(5000), 0);

    uint8_t none[4];
    EXPECT_EQ(dev.WaitReadable(0), 0);
    EXPECT_EQ(dev.WaitReadable(20), 0);  // time passed, nothing came
    EXPECT_EQ(dev.Read(none, sizeof none), 0);
    EXPECT_EQ(dev.BytesWaiting(), 0);

    const std::vector<uint8_t> answer = {0x69, 0x0D, 0x0A, 0x11, 0x13, 0x03, 0x00, 0xFF};
    pty.Send(answer);
    EXPECT_EQ(dev.WaitReadable(5000), 1);
    EXPECT_EQ(AwaitBytes(dev, 8), 8);
    std::vector<uint8_t> got(16);
    EXPECT_EQ(dev.Read(got.data(), got.size()), 8);
    got.resize(8);
    EXPECT_EQ(got, answer);
    EXPECT_EQ(dev.BytesWaiting(), 0);
}

TEST_F(PosixPortDeviceTest, PurgeDropsWhatWasReceived) {
    pty.Send({1, 2, 3});
    ASSERT_EQ(AwaitBytes(dev, 3), 3);
    EXPECT_EQ(dev.Purge(), 0);
    EXPECT_EQ(dev.BytesWaiting(), 0);
}

TEST_F(PosixPortDeviceTest, LinesAndRatesOnAPseudoTerminal) {
    // No modem lines: the requests go through without effect.
    EXPECT_EQ(dev.SetDtr(true), 0);
    EXPECT_EQ(dev.SetDtr(false), 0);
    EXPECT_EQ(dev.SetRts(true), 0);
    EXPECT_EQ(dev.SetRts(false), 0);
    // 7200 is not in the termios table; it goes through termios2.
    for (uint32_t baud : {7200u, 115200u, 9600u, 1200u, 14400u, 56000u, 128000u, 256000u}) {
        EXPECT_EQ(dev.ApplyLineSettings(Line8N1(baud)), 0) << baud;
        EXPECT_EQ(dev.LineBaud(), baud);
    }
    // Still a working raw line after the rate changes.
    const uint8_t b = 0x78;
    EXPECT_EQ(dev.Write(&b, 1), 1);
    EXPECT_EQ(pty.Receive(1), std::vector<uint8_t>{0x78});

    LineSettings bad = Line8N1(9600);
    bad.DataBits = 4;
    EXPECT_EQ(dev.ApplyLineSettings(bad), -EINVAL);
}

// ---- What reaches the terminal driver ----

using test::FakeTty;

// A port over a pseudo-terminal whose driver calls go through a FakeTty.
struct FakeTtyPort {
    PseudoTerminal pty;
    std::shared_ptr<FakeTty> tty = std::make_shared<FakeTty>();
    PortResolver Resolver() {
        return [this](int port) -> std::unique_ptr<PortDevice> {
            if (port != 1) return nullptr;
            return std::make_unique<PosixPortDevice>(pty.SlavePath(), tty);
        };
    }
};

TEST(PosixPortLines, EachRequestLeavesItsLineAtTheLevelAskedAndTheOtherAlone) {
    FakeTtyPort port;
    ASSERT_TRUE(port.pty.Ok());
    PosixPortDevice dev(port.pty.SlavePath(), port.tty);
    ASSERT_EQ(dev.Open(), 0);
    FakeTty& tty = *port.tty;
    for (bool before : {false, true}) {
        for (bool dtr : {true, false}) {
            for (bool asserted : {true, false}) {
                SCOPED_TRACE(testing::Message() << "lines at " << before << ", "
                                                << (dtr ? "DTR" : "RTS") << " to " << asserted);
                tty.Dtr = tty.Rts = before;
                EXPECT_EQ(dtr ? dev.SetDtr(asserted) : dev.SetRts(asserted), 0);
                EXPECT_EQ(dtr ? tty.Dtr : tty.Rts, asserted);
                EXPECT_EQ(dtr ? tty.Rts : tty.Dtr, before);
            }
        }
    }
}

TEST(PosixPortLines, DtrAndRtsControlSetTheLinesWhenThePortOpens) {
    struct Case {
        TDTRControl Dtr;
        TRTSControl Rts;
        int DtrLevel;  // -1: left as it was (the driver's handshake has it)
        int RtsLevel;
    };
    const Case cases[] = {
        {dtrEnable, rtsEnable, 1, 1},         {dtrDisable, rtsDisable, 0, 0},
        {dtrEnable, rtsDisable, 1, 0},        {dtrDisable, rtsEnable, 0, 1},
        {dtrHandshake, rtsHandshake, -1, -1},
    };
    for (const Case& c : cases) {
        for (bool before : {false, true}) {
            SCOPED_TRACE(testing::Message() << "DTRControl " << c.Dtr << ", RTSControl " << c.Rts
                                            << ", lines at " << before);
            FakeTtyPort port;
            ASSERT_TRUE(port.pty.Ok());
            port.tty->Dtr = port.tty->Rts = before;
            TSerialPort comm(port.Resolver());
            comm.SetPortNum(1);
            comm.SetFlowControl(fcNone);
            comm.SetDTRControl(c.Dtr);
            comm.SetRTSControl(c.Rts);
            comm.Open();
            EXPECT_EQ(port.tty->Dtr, c.DtrLevel < 0 ? before : c.DtrLevel == 1);
            EXPECT_EQ(port.tty->Rts, c.RtsLevel < 0 ? before : c.RtsLevel == 1);
        }
    }
}

// A real step through the run controller, on a port over the fake driver: the levels the
// board's boot and reset pins see, in order. No board answers; the step asks for nothing.
TEST(PosixPortLines, BootAndResetOfAStepReachTheDeviceInOrder) {
    struct Case {
        const char* Boot;
        const char* Reset;
        std::vector<std::string> Lines;
    };
    const Case cases[] = {
        {"DTR1",
         "RTS0",
         {
             "DTR 1", "RTS 1",  // both asserted as the port opens
             "DTR 1",           // boot mode
             "RTS 0", "RTS 1",  // reset pulse
             "DTR 0",           // "/AUTORESET": run mode, then a reset pulse
             "RTS 0", "RTS 1",
             "DTR 0",  // the run ends with the boot line released
         }},
        {"RTS0",
         "DTR1",
         {"DTR 1", "RTS 1", "RTS 0", "DTR 1", "DTR 0", "RTS 1", "DTR 1", "DTR 0", "RTS 1"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("boot ") + c.Boot + ", reset " + c.Reset);
        FakeTtyPort port;
        ASSERT_TRUE(port.pty.Ok());
        pstest::StationHarness h(port.Resolver());
        h.StepFile({std::string("/BOOTSIGNAL=") + c.Boot, std::string("/RESETSIGNAL=") + c.Reset,
                    "/BOOT", "/RESET", "/AUTORESET", "/AUTOCONTINUE"});
        EXPECT_EQ(h.Run(), ExitSuccess) << h.view.Dump();
        EXPECT_EQ(h.view.LastStatus(), TextProgramedOkLower);
        EXPECT_EQ(port.tty->Lines, c.Lines);
    }
}

TEST(PosixPortSettings, EveryLineSettingIsWhatTheDriverGets) {
    FakeTtyPort port;
    ASSERT_TRUE(port.pty.Ok());
    FakeTty& tty = *port.tty;
    TSerialPort comm(port.Resolver());
    comm.SetPortNum(1);
    comm.SetFlowControl(fcNone);
    comm.Open();

    // A pseudo-terminal keeps the odd, mark/space and stop-bit flags but always reads as
    // 8 data bits without parity: those two come from the write the driver was given.
    struct ParityRow {
        TParity Parity;
        bool Enabled, Odd, Sticky;
    };
    const ParityRow parities[] = {{paNone, false, false, false},
                                  {paOdd, true, true, false},
                                  {paEven, true, false, false},
                                  {paMark, true, true, true},
                                  {paSpace, true, false, true}};
    struct StopRow {
        TStopBits Stop;
        bool Two;  // termios knows one and two; 1.5 takes two, the nearest
    };
    const StopRow stops[] = {{sb1, false}, {sb15, true}, {sb2, true}};
    struct DataRow {
        TDataBits Data;
        tcflag_t Size;
    };
    const DataRow datas[] = {{db5, CS5}, {db6, CS6}, {db7, CS7}, {db8, CS8}};
    for (const ParityRow& p : parities) {
        for (const StopRow& s : stops) {
            for (const DataRow& d : datas) {
                SCOPED_TRACE(testing::Message() << "parity " << p.Parity << ", stop bits " << s.Stop
                                                << ", data bits " << d.Data);
                comm.SetParity(p.Parity);
                comm.SetStopbits(s.Stop);
                comm.SetDatabits(d.Data);
                const termios kept = tty.ReadBack();
                EXPECT_EQ((kept.c_cflag & PARODD) != 0, p.Odd);
                EXPECT_EQ((kept.c_cflag & CMSPAR) != 0, p.Sticky);
                EXPECT_EQ((kept.c_cflag & CSTOPB) != 0, s.Two);
                ASSERT_FALSE(tty.Written.empty());
                const termios& written = tty.Written.back();
                EXPECT_EQ((written.c_cflag & PARENB) != 0, p.Enabled);
                EXPECT_EQ(written.c_cflag & CSIZE, d.Size);
            }
        }
    }

    // Standard rates and others (7200, and the list's 14400, 56000, ...), read back from the
    // terminal; none of them disturbs the rest of the line.
    comm.SetParity(paNone);
    comm.SetStopbits(sb1);
    comm.SetDatabits(db8);
    for (int rate = br110; rate <= br256000; ++rate) {
        comm.SetBaudrate(static_cast<TBaudRate>(rate));
        EXPECT_EQ(GetLineBaud(tty, tty.Fd), BaudRateValue(static_cast<TBaudRate>(rate)));
    }
    comm.SetRawBaud(7200);
    EXPECT_EQ(GetLineBaud(tty, tty.Fd), 7200u);

    // Raw, reads that return at once, no flow control either way, the modem lines ignored
    // for carrier and kept at close, and the receiver on.
    const termios kept = tty.ReadBack();
    EXPECT_EQ(kept.c_cflag & (PARODD | CMSPAR | CSTOPB | CRTSCTS | HUPCL), 0u);
    EXPECT_EQ(kept.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(kept.c_iflag & (IXON | IXOFF | IXANY | ICRNL | INLCR | IGNCR | ISTRIP), 0u);
    EXPECT_EQ(kept.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(kept.c_oflag & OPOST, 0u);
    EXPECT_EQ(kept.c_cc[VMIN], 0);
    EXPECT_EQ(kept.c_cc[VTIME], 0);
    EXPECT_EQ(tty.Written.back().c_cflag & (CSIZE | PARENB), static_cast<tcflag_t>(CS8));

    // The flow-control modes the component offers, as the terminal keeps them.
    comm.SetFlowControl(fcRtsCts);
    EXPECT_NE(tty.ReadBack().c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(tty.ReadBack().c_iflag & (IXON | IXOFF), 0u);
    comm.SetFlowControl(fcXonXoff);
    EXPECT_EQ(tty.ReadBack().c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(tty.ReadBack().c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));
}

TEST_F(PosixPortDeviceTest, MasterClosingIsAnErrorNotSilence) {
    pty.CloseMaster();
    uint8_t buf[4];
    EXPECT_LT(dev.WaitReadable(5000), 0);
    EXPECT_LT(dev.Read(buf, sizeof buf), 0);
    EXPECT_LT(dev.BytesWaiting(), 0);
    EXPECT_LT(dev.Write(buf, 1), 0);
    EXPECT_LT(dev.SetDtr(true), 0);
    dev.Close();
    EXPECT_FALSE(dev.IsOpen());
}

TEST(PosixPortDevice, OpenFailures) {
    PosixPortDevice missing("/nonexistent-dir/ttyNONE");
    EXPECT_EQ(missing.Open(), -ENOENT);
    EXPECT_EQ(missing.LastOpenErrno(), ENOENT);
    EXPECT_FALSE(missing.IsOpen());

    // A plain file is not a port.
    char path[] = "/tmp/ps-notatty-XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    ::close(fd);
    PosixPortDevice file(path);
    EXPECT_EQ(file.Open(), -ENOTTY);
    EXPECT_FALSE(file.IsOpen());
    ::unlink(path);

    uint8_t b = 0;
    EXPECT_EQ(file.Write(&b, 1), -EBADF);
    EXPECT_EQ(file.Read(&b, 1), -EBADF);
    EXPECT_EQ(file.BytesWaiting(), -EBADF);
    EXPECT_EQ(file.WaitReadable(0), -EBADF);
}

// The port component over a real pseudo-terminal: the paths a run takes.
TEST(PosixSerialPort, ExclusiveOpenHangUpAndTrace) {
    PseudoTerminal pty;
    ASSERT_TRUE(pty.Ok());
    const std::string path = pty.SlavePath();
    auto resolver = [&](int) { return std::make_unique<PosixPortDevice>(path); };
    TSerialPort first(resolver);
    TSerialPort second(resolver);
    first.SetPortNum(1);
    second.SetPortNum(1);
    first.SetFlowControl(fcNone);
    first.SetBaudrate(br9600);
    first.Open();
    first.SetRawBaud(7200);
    first.SetDTR(false);
    first.SetRTS(true);

    // A second station on the same port would read the first one's answers.
    try {
        second.Open();
        ADD_FAILURE() << "second open succeeded";
    } catch (const ESerialPortError& e) {
        EXPECT_STREQ(e.what(), "Can't open device COM1");
    }
    EXPECT_EQ(second.LastOpenErrno(), EBUSY);

    EXPECT_TRUE(first.WriteText(std::string("s\0", 2)));
    EXPECT_EQ(pty.Receive(2), (std::vector<uint8_t>{'s', 0}));
    pty.Send({0x69});
    ASSERT_TRUE(first.WaitReadable(5000));
    uint8_t c = 0;
    for (int i = 0; i < 500 && first.InputCount() == 0; ++i) first.WaitReadable(10);
    ASSERT_TRUE(first.ReadChar(c));
    EXPECT_EQ(c, 0x69);

    // The board side goes away: the next wait raises instead of timing out quietly.
    pty.CloseMaster();
    try {
        first.WaitReadable(5000);
        ADD_FAILURE() << "hang-up went unnoticed";
    } catch (const ESerialPortError& e) {
        EXPECT_EQ(e.what(), FormatPortMessage(MsgReadError, EIO));
    }
    EXPECT_THROW(first.InputCount(), ESerialPortError);
    first.Close();

    // Once the holder lets go, the next station gets the port.
    PseudoTerminal again;
    ASSERT_TRUE(again.Ok());
    auto againResolver = [&](int) { return std::make_unique<PosixPortDevice>(again.SlavePath()); };
    TSerialPort holder(againResolver);
    TSerialPort next(againResolver);
    holder.Open();
    EXPECT_THROW(next.Open(), ESerialPortError);
    holder.Close();
    EXPECT_NO_THROW(next.Open());
    EXPECT_TRUE(next.Active());
}

}  // namespace
}  // namespace ps

// The kernel's console is recognised from its device number alone, without opening it, so
// an unmapped COM1 (/dev/ttyS0 on many machines) never sends a byte to the console.
TEST(SystemConsole, IsRecognisedWithoutOpeningIt) {
    std::ifstream active("/sys/class/tty/console/active");
    std::string name;
    while (active >> name) {
        const std::string path = "/dev/" + name;
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode)) {
            EXPECT_TRUE(ps::IsSystemConsole(path)) << path;
        }
    }
    EXPECT_FALSE(ps::IsSystemConsole("/dev/null"));
    EXPECT_FALSE(ps::IsSystemConsole("/nonexistent"));
    const std::string hint = ps::OpenFailureHint("/dev/null", EBUSY);
    EXPECT_NE(hint.find("in use"), std::string::npos);
}

// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "link/Clock.h"
#include "link/FakePortDevice.h"
#include "link/SerialPort.h"
#include "link/WireTrace.h"

namespace ps {
namespace {

using test::FakeDeviceState;
using test::FakePortDevice;

std::string Msg(const char* format, int code) {
    return FormatPortMessage(format, code);
}

std::string ErrorText(int code) {
    return std::string(std::strerror(code));
}

// A port on COM<n> that resolves to one fake device; other numbers have no device.
struct FakePort {
    std::shared_ptr<FakeDeviceState> state = std::make_shared<FakeDeviceState>();
    int resolves = 0;
    TSerialPort port;

    explicit FakePort(int comNumber = 1) {
        port.SetResolver([this, comNumber](int n) -> std::unique_ptr<PortDevice> {
            ++resolves;
            if (n != comNumber) return nullptr;
            return std::make_unique<FakePortDevice>(state, "/dev/fake" + std::to_string(n));
        });
        port.SetPortNum(comNumber);
    }
    void OpenAndForget() {
        port.Open();
        state->Calls.clear();
        state->Applied.clear();
    }
};

// Runs f and returns the message of the ESerialPortError it raised ("" when none).
template <typename F>
std::string RaisedBy(F f) {
    try {
        f();
    } catch (const ESerialPortError& e) {
        return e.what();
    }
    return "";
}

class StepClock : public Clock {
public:
    int64_t NowMs() override { return now; }
    void SleepMs(int64_t ms) override { now += ms; }
    int64_t now = 0;
};

// Collects a trace in memory.
struct MemoryTrace {
    char* buffer = nullptr;
    size_t size = 0;
    std::FILE* file = open_memstream(&buffer, &size);
    StepClock clock;
    WireTrace trace{clock, file};
    ~MemoryTrace() {
        std::fclose(file);
        std::free(buffer);
    }
    std::string Text() {
        std::fflush(file);
        return std::string(buffer, size);
    }
};

TEST(SerialPortMessage, FillsNumberAndSystemText) {
    EXPECT_EQ(Msg(MsgWriteError, EIO), "Write error (5), " + ErrorText(EIO));
    EXPECT_EQ(Msg(MsgEventMask, 22), " Error setting EventMask (22), " + ErrorText(22));
    EXPECT_EQ(Msg(MsgInvalidPortNumber, 7), "Invalid port number (COM7)");
    EXPECT_EQ(Msg(MsgPortIsOpen, 3), MsgPortIsOpen);
    // A message text can never be read as more arguments than it gets.
    EXPECT_EQ(FormatPortMessage("%s %s %d %d %n", 1), ErrorText(1) + " %s 1 %d %n");
}

TEST(SerialPort, DefaultsOfTheComponent) {
    TSerialPort p;
    EXPECT_EQ(p.PortNum(), 0);
    EXPECT_EQ(p.Baudrate(), br1200);
    EXPECT_EQ(p.Parity(), paNone);
    EXPECT_EQ(p.Databits(), db8);
    EXPECT_EQ(p.Stopbits(), sb1);
    EXPECT_EQ(p.FlowControl(), fcRtsCts);
    EXPECT_EQ(p.DTRControl(), dtrEnable);
    EXPECT_EQ(p.RTSControl(), rtsEnable);
    EXPECT_EQ(p.Options(), 0u);
    EXPECT_EQ(p.XonLim(), 1024);
    EXPECT_EQ(p.XoffLim(), 1024);
    EXPECT_EQ(p.ReadBufSize(), 4096);
    EXPECT_EQ(p.WriteBufSize(), 2048);
    EXPECT_EQ(p.ReadTimeout(), 1000);
    EXPECT_EQ(p.WriteTimeout(), 1000);
    EXPECT_EQ(p.MonitorEvents(), 0u);
    EXPECT_EQ(p.EventChars(), (TSerialEventChars{0x11, 0x13, 0x00, 0x00}));
    EXPECT_FALSE(p.Active());
}

TEST(SerialPort, BaudRateValuesFollowTheEnumerationOrder) {
    const uint32_t expected[] = {110,   300,   600,   1200,  2400,   4800,   9600,  14400,
                                 19200, 38400, 56000, 57600, 115200, 128000, 256000};
    for (int i = br110; i <= br256000; ++i)
        EXPECT_EQ(BaudRateValue(static_cast<TBaudRate>(i)), expected[i]) << i;
}

TEST(SerialPort, OpenFailuresNameThePort) {
    // No resolver at all, and a number the resolver does not know.
    TSerialPort bare;
    bare.SetPortNum(4);
    EXPECT_EQ(RaisedBy([&] { bare.Open(); }), Msg(MsgInvalidPortNumber, 4));

    FakePort f(2);
    f.port.SetPortNum(9);
    EXPECT_EQ(RaisedBy([&] { f.port.Open(); }), "Invalid port number (COM9)");
    EXPECT_FALSE(f.port.Active());

    struct Case {
        int result;
        const char* format;
    } cases[] = {{-ENOENT, MsgInvalidPortNumber}, {-ENODEV, MsgInvalidPortNumber},
                 {-ENXIO, MsgInvalidPortNumber},  {-EBUSY, MsgCantOpenDevice},
                 {-EACCES, MsgCantOpenDevice},    {-ENOTTY, MsgCantOpenDevice}};
    for (const Case& c : cases) {
        FakePort g(3);
        g.state->OpenResult = c.result;
        EXPECT_EQ(RaisedBy([&] { g.port.Open(); }), Msg(c.format, 3)) << c.result;
        EXPECT_FALSE(g.port.Active());
        EXPECT_EQ(g.port.LastOpenErrno(), -c.result);
        EXPECT_EQ(g.port.DeviceName(), "/dev/fake3");  // for a hint about the failure
    }
}

TEST(SerialPort, OpenAppliesLineSettingsAndRaisesTheLines) {
    FakePort f;
    f.port.SetBaudrate(br9600);
    f.port.SetFlowControl(fcNone);
    EXPECT_TRUE(f.state->Calls.empty());  // nothing reaches a device while closed
    f.port.Open();
    EXPECT_TRUE(f.port.Active());
    EXPECT_EQ(f.port.DeviceName(), "/dev/fake1");
    ASSERT_EQ(f.state->Applied.size(), 1u);
    const LineSettings& s = f.state->Applied[0];
    EXPECT_EQ(s.Baud, 9600u);
    EXPECT_EQ(s.DataBits, 8);
    EXPECT_EQ(s.Parity, 0);
    EXPECT_EQ(s.StopBits, 0);
    EXPECT_FALSE(s.RtsCts || s.DtrDsr || s.XonXoff);
    EXPECT_EQ(f.state->Calls, (std::vector<std::string>{"open", "apply", "dtr1", "rts1"}));

    EXPECT_EQ(RaisedBy([&] { f.port.Open(); }), MsgPortIsOpen);
    EXPECT_TRUE(f.port.Active());
}

TEST(SerialPort, DisabledLinesAreNegatedAtOpenAndHandshakeLinesLeftAlone) {
    FakePort f;
    f.port.SetDTRControl(dtrDisable);
    f.port.SetRTSControl(rtsHandshake);
    f.port.Open();
    EXPECT_EQ(f.state->Calls, (std::vector<std::string>{"open", "apply", "dtr0"}));
}

TEST(SerialPort, FailureAfterOpenClosesThePortAgain) {
    FakePort f;
    f.state->ApplyResult = -EIO;
    EXPECT_EQ(RaisedBy([&] { f.port.Open(); }), "Error writing dcb (5), " + ErrorText(EIO));
    EXPECT_FALSE(f.port.Active());
    EXPECT_FALSE(f.state->IsOpen);

    FakePort g;
    g.state->LineResult = -EPERM;
    EXPECT_EQ(RaisedBy([&] { g.port.Open(); }), Msg(MsgWriteDcb, EPERM));
    EXPECT_FALSE(g.port.Active());
    EXPECT_FALSE(g.state->IsOpen);
}

TEST(SerialPort, ClosedOnlyPropertiesRefuseChangesWhileOpen) {
    FakePort f;
    f.OpenAndForget();
    EXPECT_EQ(RaisedBy([&] { f.port.SetPortNum(2); }), MsgPortIsOpen);
    EXPECT_EQ(f.port.PortNum(), 1);
    EXPECT_EQ(RaisedBy([&] { f.port.SetReadBufSize(40960); }), MsgPortIsOpen);
    EXPECT_EQ(RaisedBy([&] { f.port.SetWriteBufSize(4096); }), MsgPortIsOpen);
    EXPECT_EQ(RaisedBy([&] { f.port.SetMonitorEvents(SetOf(ceData)); }), MsgPortIsOpen);
    EXPECT_EQ(RaisedBy([&] { f.port.SetPriority(2); }), MsgPortIsOpen);
    // Writing the value a property already has is no change and never fails.
    EXPECT_EQ(RaisedBy([&] {
                  f.port.SetPortNum(1);
                  f.port.SetReadBufSize(4096);
                  f.port.SetWriteBufSize(2048);
              }),
              "");
    EXPECT_TRUE(f.state->Calls.empty());

    f.port.Close();
    f.port.SetPortNum(2);
    f.port.SetReadBufSize(40960);
    EXPECT_EQ(f.port.PortNum(), 2);
    EXPECT_EQ(f.port.ReadBufSize(), 40960);
}

TEST(SerialPort, LinePropertiesApplyAtOnceOnlyWhenTheyChange) {
    FakePort f;
    f.port.SetBaudrate(br9600);
    f.OpenAndForget();

    f.port.SetBaudrate(br9600);  // same value: nothing happens
    EXPECT_TRUE(f.state->Applied.empty());

    f.port.SetBaudrate(br115200);
    ASSERT_EQ(f.state->Applied.size(), 1u);
    EXPECT_EQ(f.state->Applied.back().Baud, 115200u);

    f.port.SetParity(paEven);
    f.port.SetParity(paEven);
    f.port.SetStopbits(sb2);
    f.port.SetDatabits(db7);
    f.port.SetFlowControl(fcXonXoff);
    ASSERT_EQ(f.state->Applied.size(), 5u);
    const LineSettings& s = f.state->Applied.back();
    EXPECT_EQ(s.Baud, 115200u);
    EXPECT_EQ(s.Parity, 2);
    EXPECT_EQ(s.StopBits, 2);
    EXPECT_EQ(s.DataBits, 7);
    EXPECT_TRUE(s.XonXoff);

    f.state->ApplyResult = -EINVAL;
    EXPECT_EQ(RaisedBy([&] { f.port.SetBaudrate(br300); }), Msg(MsgWriteDcb, EINVAL));
}

TEST(SerialPort, RawBaudOnAnOpenPortUntilBaudrateIsWrittenOrThePortCloses) {
    FakePort f;
    EXPECT_EQ(RaisedBy([&] { f.port.SetRawBaud(7200); }), Msg(MsgReadDcb, EBADF));

    f.port.SetBaudrate(br9600);
    f.OpenAndForget();
    f.port.SetRawBaud(7200);
    ASSERT_EQ(f.state->Applied.size(), 1u);
    EXPECT_EQ(f.state->Applied.back().Baud, 7200u);
    EXPECT_EQ(f.port.EffectiveBaud(), 7200u);

    // Another line change must not quietly put the line back to 9600.
    f.port.SetParity(paOdd);
    EXPECT_EQ(f.state->Applied.back().Baud, 7200u);

    // The property still says 9600 but the line runs at 7200: writing 9600 is a change.
    f.port.SetBaudrate(br9600);
    EXPECT_EQ(f.state->Applied.back().Baud, 9600u);

    f.port.SetRawBaud(7200);
    f.port.Close();
    f.port.Open();
    EXPECT_EQ(f.state->Applied.back().Baud, 9600u);
}

TEST(SerialPort, ClosedPortIsQuietWhereTheComponentPromisesIt) {
    FakePort f;
    uint8_t c = 0;
    EXPECT_EQ(f.port.InputCount(), 0);
    EXPECT_FALSE(f.port.ReadChar(c));
    f.port.SetDTR(true);
    f.port.SetRTS(false);
    f.port.PurgeAll();
    f.port.ApplyLineSettings();
    f.port.Close();
    EXPECT_FALSE(f.port.WaitReadable(10));
    EXPECT_EQ(f.resolves, 0);  // nothing above even looked for a device
    // Data calls on a closed port fail loudly instead of pretending to have sent.
    EXPECT_EQ(RaisedBy([&] { f.port.WriteChar('x'); }), Msg(MsgWriteError, EBADF));
    EXPECT_EQ(RaisedBy([&] { f.port.ReadBuf(&c, 1); }), Msg(MsgReadError, EBADF));
}

TEST(SerialPort, ManualLineUpdatesInHandshakeModesAndLineFailures) {
    FakePort f;
    f.port.SetDTRControl(dtrHandshake);
    f.port.SetRTSControl(rtsHandshake);
    f.OpenAndForget();
    EXPECT_EQ(RaisedBy([&] { f.port.SetDTR(true); }), MsgManualDtr);
    EXPECT_EQ(RaisedBy([&] { f.port.SetRTS(true); }), MsgManualRts);
    EXPECT_TRUE(f.state->Calls.empty());

    f.port.SetDTRControl(dtrEnable);
    f.port.SetRTSControl(rtsEnable);
    f.state->Calls.clear();
    f.port.SetDTR(false);
    f.port.SetRTS(true);
    EXPECT_EQ(f.state->Calls, (std::vector<std::string>{"dtr0", "rts1"}));

    f.state->LineResult = -EIO;
    EXPECT_EQ(RaisedBy([&] { f.port.SetRTS(false); }),
              "Error calling comm function (5), " + ErrorText(EIO));
}

TEST(SerialPort, DataPassesAndWriteTextSendsZeroBytes) {
    FakePort f;
    f.OpenAndForget();
    const std::string text("A\0B\0", 4);
    EXPECT_TRUE(f.port.WriteText(text));
    EXPECT_TRUE(f.port.WriteChar(0x00));
    EXPECT_TRUE(f.port.WriteText(""));
    EXPECT_EQ(f.state->Written, (std::vector<uint8_t>{'A', 0, 'B', 0, 0}));

    uint8_t buf[8] = {};
    EXPECT_EQ(f.port.ReadBuf(buf, 8), 0);  // nothing received: returns at once with 0
    f.state->Input = {0x69, 0x00, 0x7D};
    EXPECT_EQ(f.port.InputCount(), 3);
    EXPECT_TRUE(f.port.WaitReadable(10));
    uint8_t c = 0xFF;
    EXPECT_TRUE(f.port.ReadChar(c));
    EXPECT_EQ(c, 0x69);
    EXPECT_EQ(f.port.ReadBuf(buf, 8), 2);
    EXPECT_EQ(buf[0], 0x00);
    EXPECT_EQ(buf[1], 0x7D);
    EXPECT_FALSE(f.port.WaitReadable(10));

    f.state->Input = {1, 2, 3};
    f.port.PurgeAll();
    EXPECT_EQ(f.port.InputCount(), 0);
}

TEST(SerialPort, WriteTimeLimitIsNotAnError) {
    FakePort f;
    f.OpenAndForget();
    f.state->WriteLimit = 0;
    EXPECT_EQ(f.port.WriteBuf(reinterpret_cast<const uint8_t*>("ab"), 2), 0);
    EXPECT_FALSE(f.port.WriteChar('x'));
    f.state->WriteLimit = 1;
    EXPECT_FALSE(f.port.WriteText("xyz"));  // a short write is not "all written"
}

TEST(SerialPort, DeviceFailuresRaiseTheirMessages) {
    FakePort f;
    f.OpenAndForget();
    uint8_t c = 0;

    f.state->WaitingError = -EINVAL;
    EXPECT_EQ(RaisedBy([&] { f.port.InputCount(); }), Msg(MsgStatistics, EINVAL));
    f.state->WaitingError = 0;
    f.state->ReadError = -EINVAL;
    EXPECT_EQ(RaisedBy([&] { f.port.ReadBuf(&c, 1); }), Msg(MsgReadError, EINVAL));
    f.state->ReadError = 0;
    f.state->WriteError = -EINVAL;
    EXPECT_EQ(RaisedBy([&] { f.port.WriteChar(1); }), Msg(MsgWriteError, EINVAL));
    f.state->WriteError = 0;
    f.state->PurgeResult = -EINVAL;
    EXPECT_EQ(RaisedBy([&] { f.port.PurgeAll(); }), Msg(MsgClearBuffers, EINVAL));
    f.state->PurgeResult = 0;
    // Errors that are not a lost device leave the port usable.
    EXPECT_EQ(f.port.InputCount(), 0);
    EXPECT_TRUE(f.port.WriteChar(1));
}

TEST(SerialPort, VanishedDeviceNeverLooksLikeASilentBoard) {
    FakePort f;
    f.OpenAndForget();
    f.state->WaitResult = -EIO;  // hang-up
    EXPECT_EQ(RaisedBy([&] { f.port.WaitReadable(10); }), "Read error (5), " + ErrorText(EIO));

    // The device would now answer "nothing waiting" again; the port must not believe it.
    f.state->WaitResult = 0;
    uint8_t c = 0;
    EXPECT_EQ(RaisedBy([&] { f.port.InputCount(); }), Msg(MsgStatistics, EIO));
    EXPECT_EQ(RaisedBy([&] { f.port.ReadChar(c); }), Msg(MsgStatistics, EIO));
    EXPECT_EQ(RaisedBy([&] { f.port.WaitReadable(10); }), Msg(MsgReadError, EIO));
    EXPECT_EQ(RaisedBy([&] { f.port.WriteChar(1); }), Msg(MsgWriteError, EIO));
    EXPECT_EQ(RaisedBy([&] { f.port.SetDTR(true); }), Msg(MsgCommFunction, EIO));

    // Closing still releases it, without raising, and a fresh open starts clean.
    f.state->PurgeResult = -EIO;
    f.state->Calls.clear();
    EXPECT_EQ(RaisedBy([&] { f.port.Close(); }), "");
    EXPECT_EQ(f.state->Calls, (std::vector<std::string>{"purge", "close"}));  // no drain wait
    EXPECT_FALSE(f.port.Active());
    EXPECT_FALSE(f.state->IsOpen);
    f.state->PurgeResult = 0;
    f.port.Open();
    EXPECT_EQ(f.port.InputCount(), 0);
}

TEST(SerialPort, CloseAndDestructionReleaseTheDevice) {
    auto state = std::make_shared<FakeDeviceState>();
    {
        TSerialPort p([&](int) { return std::make_unique<FakePortDevice>(state); });
        p.SetPortNum(1);
        p.Open();
        state->Calls.clear();
        p.Close();
        // Written bytes leave before the queues are emptied.
        EXPECT_EQ(state->Calls, (std::vector<std::string>{"drain", "purge", "close"}));
        p.Close();  // closing a closed port does nothing
        EXPECT_EQ(state->Calls.back(), "close");
        state->Calls.clear();
        p.Open();
    }
    EXPECT_FALSE(state->IsOpen);
    EXPECT_EQ(state->Calls.back(), "close");
}

TEST(SerialPort, TraceShowsWhatWentOverTheWire) {
    MemoryTrace t;
    FakePort f;
    f.port.SetTrace(&t.trace);
    f.port.SetBaudrate(br115200);
    f.port.SetDTR(true);  // closed: no request, no line
    t.clock.now = 1203;
    f.port.Open();
    const uint8_t frame[] = {0x4B, 0x32, 0x03, 0x12, 0x34, 0xB6};
    f.port.WriteBuf(frame, 6);
    f.port.WriteText("");
    f.state->Input = {0x69, 0xAB};
    uint8_t buf[4];
    f.port.ReadBuf(buf, 1);
    f.port.ReadBuf(buf, 4);
    f.port.ReadBuf(buf, 4);  // nothing came: no line
    t.clock.now = 1300;
    f.port.SetDTR(true);
    f.port.SetRTS(false);
    f.port.SetRawBaud(7200);
    f.port.SetBaudrate(br9600);
    f.port.PurgeAll();
    f.port.Close();
    EXPECT_EQ(t.Text(),
              "1203 OPEN COM1 /dev/fake1 115200\n"
              "1203 TX 4B 32 03 12 34 B6\n"
              "1203 TX\n"
              "1203 RX 69\n"
              "1203 RX AB\n"
              "1300 DTR 1\n"
              "1300 RTS 0\n"
              "1300 BAUD 7200\n"
              "1300 BAUD 9600\n"
              "1300 PURGE\n"
              "1300 CLOSE\n");
}

TEST(SerialPort, TraceRecordsFailuresAndShortWrites) {
    MemoryTrace t;
    FakePort f;
    f.port.SetTrace(&t.trace);
    f.port.Open();
    f.state->WriteLimit = 1;
    f.port.WriteText("ab");
    f.state->WaitResult = -EIO;
    RaisedBy([&] { f.port.WaitReadable(1); });
    EXPECT_EQ(t.Text(),
              "0 OPEN COM1 /dev/fake1 1200\n"
              "0 TX 61\n"
              "0 TX TIMEOUT 1\n"
              "0 ERROR " +
                  Msg(MsgReadError, EIO) + "\n");
}

}  // namespace
}  // namespace ps

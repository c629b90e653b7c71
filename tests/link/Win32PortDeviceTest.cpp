// SPDX-License-Identifier: MIT
// The Win32 serial device as the driver sees it: the DCB, the timeouts and the DTR/RTS
// requests it gets, which Wine on a pseudo-terminal cannot show.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "link/Win32PortDevice.h"

namespace ps::test {
namespace {

// A COM port's driver: keeps the state it is given, the lines, the queues.
class FakeComm : public CommCalls {
public:
    HANDLE Handle = reinterpret_cast<HANDLE>(0x1234);
    DWORD OpenError = 0;       // Open fails with it when set
    bool IsSerial = true;      // GetState works
    DWORD EscapeError = 0;     // EscapeCommFunction fails with it when set
    DWORD RunsBaud = 0;        // the rate the driver really runs when it differs from asked
    DWORD InQueue = 0, OutQueue = 0;
    DWORD ReceivedAfterWait = 0;  // bytes that arrive while WaitReceived waits
    DWORD WaitError = 0;          // WaitReceived fails with it when set
    DWORD QueueError = 0;         // ClearCommError fails with it when set
    DWORD QueueErrorAfterWait = 0;  // ... from the end of a WaitReceived on (a port pulled out)
    DCB State{};
    COMMTIMEOUTS Timeouts{};
    std::vector<std::string> Lines;  // "DTR 1", "RTS 0" in order
    std::vector<DWORD> Waits;        // the time limit of every WaitReceived
    DWORD Error = 0;

    HANDLE Open(const std::wstring&) override {
        Error = OpenError;
        return OpenError ? INVALID_HANDLE_VALUE : Handle;
    }
    BOOL Close(HANDLE) override { return TRUE; }
    BOOL GetState(HANDLE, DCB& dcb) override {
        if (!IsSerial) return Fail(ERROR_INVALID_FUNCTION);
        dcb = State;
        if (RunsBaud) dcb.BaudRate = RunsBaud;
        return TRUE;
    }
    BOOL SetState(HANDLE, const DCB& dcb) override {
        State = dcb;
        return TRUE;
    }
    BOOL SetTimeouts(HANDLE, const COMMTIMEOUTS& t) override {
        Timeouts = t;
        return TRUE;
    }
    BOOL SetMask(HANDLE, DWORD) override { return TRUE; }
    BOOL ClearError(HANDLE, DWORD& errors, COMSTAT& status) override {
        if (QueueError) return Fail(QueueError);
        errors = 0;
        status = {};
        status.cbInQue = InQueue;
        status.cbOutQue = OutQueue;
        return TRUE;
    }
    BOOL Purge(HANDLE, DWORD) override { return TRUE; }
    BOOL Escape(HANDLE, DWORD f) override {
        if (EscapeError) return Fail(EscapeError);
        const char* name = f == SETDTR || f == CLRDTR ? "DTR " : "RTS ";
        Lines.push_back(std::string(name) + (f == SETDTR || f == SETRTS ? "1" : "0"));
        return TRUE;
    }
    BOOL Read(HANDLE, void*, DWORD, DWORD& done) override {
        done = 0;
        return TRUE;
    }
    BOOL Write(HANDLE, const void*, DWORD count, DWORD& done) override {
        done = count;
        return TRUE;
    }
    BOOL WaitReceived(HANDLE, DWORD ms) override {
        Waits.push_back(ms);
        InQueue += ReceivedAfterWait;
        if (QueueErrorAfterWait) QueueError = QueueErrorAfterWait;
        if (WaitError) return Fail(WaitError);
        return TRUE;
    }
    DWORD LastError() override { return Error; }

private:
    BOOL Fail(DWORD e) {
        Error = e;
        return FALSE;
    }
};

struct Rig {
    std::shared_ptr<FakeComm> comm = std::make_shared<FakeComm>();
    Win32PortDevice device{"\\\\.\\COM3", comm};
};

TEST(Win32PortSettings, EveryLineSettingIsWhatTheDriverGets) {
    struct Case {
        LineSettings asked;
        DWORD baud;
        BYTE bits, parity, stop;
        bool cts;
        DWORD rtsControl;
    } cases[] = {
        {{115200, 8, 0, 0, false, false, false}, 115200, 8, NOPARITY, ONESTOPBIT, false, RTS_CONTROL_ENABLE},
        {{7200, 8, 0, 0, false, false, false}, 7200, 8, NOPARITY, ONESTOPBIT, false, RTS_CONTROL_ENABLE},
        {{9600, 7, 2, 2, false, false, false}, 9600, 7, EVENPARITY, TWOSTOPBITS, false, RTS_CONTROL_ENABLE},
        {{1200, 5, 4, 1, true, false, false}, 1200, 5, SPACEPARITY, ONE5STOPBITS, true, RTS_CONTROL_HANDSHAKE},
    };
    for (const Case& c : cases) {
        Rig rig;
        ASSERT_EQ(rig.device.Open(), 0);
        EXPECT_EQ(rig.device.ApplyLineSettings(c.asked), 0) << c.baud;
        const DCB& d = rig.comm->State;
        EXPECT_EQ(d.BaudRate, c.baud);
        EXPECT_EQ(d.ByteSize, c.bits);
        EXPECT_EQ(d.Parity, c.parity);
        EXPECT_EQ(d.fParity, c.parity != NOPARITY);
        EXPECT_EQ(d.StopBits, c.stop);
        EXPECT_EQ(d.fOutxCtsFlow, c.cts);
        EXPECT_EQ(d.fRtsControl, c.rtsControl);
        EXPECT_EQ(d.fDtrControl, static_cast<DWORD>(DTR_CONTROL_ENABLE));
        EXPECT_FALSE(d.fOutX || d.fInX || d.fOutxDsrFlow || d.fDsrSensitivity || d.fNull);
        EXPECT_FALSE(d.fAbortOnError) << "a line error must not stop later reads";
        EXPECT_TRUE(d.fBinary);
    }
}

TEST(Win32PortSettings, ARateTheDriverDoesNotRunIsRefused) {
    Rig rig;
    rig.comm->RunsBaud = 9600;  // takes 7200 and runs 9600
    ASSERT_EQ(rig.device.Open(), 0);
    EXPECT_EQ(rig.device.ApplyLineSettings({7200, 8, 0, 0, false, false, false}), -EINVAL);
}

TEST(Win32PortSettings, ReadsReturnAtOnceAndWritesHaveThePortsTimeLimit) {
    Rig rig;
    rig.device.SetWriteTimeoutMs(250);
    ASSERT_EQ(rig.device.Open(), 0);
    EXPECT_EQ(rig.comm->Timeouts.ReadIntervalTimeout, MAXDWORD);
    EXPECT_EQ(rig.comm->Timeouts.ReadTotalTimeoutConstant, 0u);
    EXPECT_EQ(rig.comm->Timeouts.ReadTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(rig.comm->Timeouts.WriteTotalTimeoutConstant, 250u);
    rig.device.SetWriteTimeoutMs(1000);
    EXPECT_EQ(rig.comm->Timeouts.WriteTotalTimeoutConstant, 1000u);
}

TEST(Win32PortLines, RequestsReachTheDriverAndLineSettingsKeepTheLevels) {
    Rig rig;
    ASSERT_EQ(rig.device.Open(), 0);
    EXPECT_EQ(rig.device.SetDtr(false), 0);
    EXPECT_EQ(rig.device.SetRts(true), 0);
    EXPECT_EQ(rig.device.SetRts(false), 0);
    EXPECT_EQ(rig.comm->Lines, (std::vector<std::string>{"DTR 0", "RTS 1", "RTS 0"}));
    // A later line setting must not raise the lines again.
    ASSERT_EQ(rig.device.ApplyLineSettings({57600, 8, 0, 0, false, false, false}), 0);
    EXPECT_EQ(rig.comm->State.fDtrControl, static_cast<DWORD>(DTR_CONTROL_DISABLE));
    EXPECT_EQ(rig.comm->State.fRtsControl, static_cast<DWORD>(RTS_CONTROL_DISABLE));
}

TEST(Win32PortErrors, EachDriverAnswerIsTheErrnoTheMessagesAreWrittenFor) {
    struct Case {
        const char* what;
        DWORD openError;
        bool serial;
        DWORD escapeError;
        int open, line;
    } cases[] = {
        {"no such port", ERROR_FILE_NOT_FOUND, true, 0, -ENOENT, 0},
        {"held by another program", ERROR_ACCESS_DENIED, true, 0, -EBUSY, 0},
        {"not a serial port", 0, false, 0, -ENOTTY, 0},
        {"no modem lines (a pty under Wine)", 0, true, ERROR_NOT_SUPPORTED, 0, 0},
        {"adapter pulled out", 0, true, ERROR_GEN_FAILURE, 0, -EIO},
    };
    for (const Case& c : cases) {
        Rig rig;
        rig.comm->OpenError = c.openError;
        rig.comm->IsSerial = c.serial;
        rig.comm->EscapeError = c.escapeError;
        EXPECT_EQ(rig.device.Open(), c.open) << c.what;
        if (c.open != 0) {
            EXPECT_EQ(rig.device.LastOpenErrno(), -c.open) << c.what;
            EXPECT_FALSE(rig.device.IsOpen()) << c.what;
            continue;
        }
        EXPECT_EQ(rig.device.SetDtr(true), c.line) << c.what;
        // A lost device stays lost: nothing waiting can never pass for a silent board.
        if (c.line == -EIO) EXPECT_EQ(rig.device.BytesWaiting(), -EIO) << c.what;
    }
}

TEST(Win32PortWait, TheQueueCountDecidesAndNoWaitIsLongerThanASlice) {
    struct Case {
        DWORD before, arriving;
        int timeoutMs, result;
        size_t waits;
        DWORD waitError = 0, queueErrorAfterWait = 0;
    } cases[] = {
        {3, 0, 10, 1, 0},   // bytes already waiting: no wait at all
        {0, 0, 10, 0, 1},   // an event without bytes (read already) is no input
        {0, 2, 10, 1, 1},   // bytes arrive during the wait
        {0, 0, 500, 0, 1},  // a long wait is cut to one slice
        {0, 0, 0, 0, 0},    // zero only looks
        // A failed event wait is no lost port: the queue count decides.
        {0, 0, 10, 0, 1, ERROR_INVALID_PARAMETER},
        {0, 2, 10, 1, 1, ERROR_INVALID_PARAMETER},
        {0, 0, 10, -EIO, 1, ERROR_GEN_FAILURE, ERROR_GEN_FAILURE},
    };
    for (const Case& c : cases) {
        Rig rig;
        ASSERT_EQ(rig.device.Open(), 0);
        rig.comm->InQueue = c.before;
        rig.comm->ReceivedAfterWait = c.arriving;
        rig.comm->WaitError = c.waitError;
        rig.comm->QueueErrorAfterWait = c.queueErrorAfterWait;
        EXPECT_EQ(rig.device.WaitReadable(c.timeoutMs), c.result) << c.timeoutMs;
        ASSERT_EQ(rig.comm->Waits.size(), c.waits);
        for (DWORD ms : rig.comm->Waits) EXPECT_LE(ms, 10u);
    }
}

TEST(Win32PortNames, ComNumbersTakeTheDeviceFormAndOthersStayAsGiven) {
    const std::pair<const char*, const char*> cases[] = {
        {"COM1", "\\\\.\\COM1"},   {"com12", "\\\\.\\COM12"}, {"\\\\.\\COM3", "\\\\.\\COM3"},
        {"COMX", "COMX"},          {"COM", "COM"},            {"sim:avr", "sim:avr"},
    };
    for (const auto& [given, expected] : cases) EXPECT_EQ(Win32DevicePath(given), expected) << given;
}

}  // namespace
}  // namespace ps::test

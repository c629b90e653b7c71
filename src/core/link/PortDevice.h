// SPDX-License-Identifier: MIT
#pragma once
#include <cstddef>
#include <climits>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace ps {

// Line settings the station can ask for. It only ever uses 8N1 without flow control, but
// the port component keeps the other values as properties, so they travel here.
struct LineSettings {
    uint32_t Baud = 1200;
    int DataBits = 8;     // 4..8
    int Parity = 0;       // 0 none, 1 odd, 2 even, 3 mark, 4 space
    int StopBits = 0;     // 0 one, 1 one and a half, 2 two
    bool RtsCts = false;  // hardware flow control
    bool DtrDsr = false;
    bool XonXoff = false;
};

// A port device at the level of OS calls. Every call returns 0 (or a count) on success and
// a negative errno value on failure; TSerialPort turns failures into its error messages.
// Implementations: the POSIX termios device and the in-process simulated device (sim/).
class PortDevice {
public:
    virtual ~PortDevice() = default;

    // What the device is, for the trace and messages: "/dev/ttyUSB0", "sim:avr".
    virtual std::string Name() const = 0;

    // -ENOENT (or -ENODEV, -ENXIO) when there is no such device; any other negative value
    // when it exists but cannot be opened.
    virtual int Open() = 0;
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;

    virtual int ApplyLineSettings(const LineSettings& settings) = 0;
    // Writes all bytes or fails; returns the count written.
    virtual long Write(const uint8_t* data, size_t count) = 0;
    // Returns at once with what is buffered (0 when nothing is waiting).
    virtual long Read(uint8_t* data, size_t count) = 0;
    // Bytes received and waiting to be read.
    virtual long BytesWaiting() = 0;
    virtual int Purge() = 0;
    // A device without modem-control lines accepts these without effect and returns 0.
    virtual int SetDtr(bool asserted) = 0;
    virtual int SetRts(bool asserted) = 0;
    // Blocks until input is waiting or timeoutMs has passed: 1 readable, 0 time passed,
    // negative errno when the device has gone away (hang-up).
    virtual int WaitReadable(int timeoutMs) = 0;
    // The same in microseconds, also ending (0) once one of wakeFds is readable: the view's
    // standard input and signal pipe, so an idle station sleeps until something happens.
    // The default serves devices without a descriptor of their own: it waits in slices of
    // at most SliceMs when there are wake descriptors, since it cannot watch them.
    virtual int WaitReadableOrWake(int64_t timeoutUs, const std::vector<int>& wakeFds) {
        int64_t ms = timeoutUs >= INT32_MAX / 2 ? INT32_MAX / 2 : (timeoutUs + 999) / 1000;
        if (!wakeFds.empty() && ms > SliceMs) ms = SliceMs;
        return WaitReadable(static_cast<int>(ms < 0 ? 0 : ms));
    }
    static constexpr int SliceMs = 10;

    // errno of the last failed Open, for hints (permissions) in front ends.
    virtual int LastOpenErrno() const { return 0; }
    // Time limit of one Write; a device that cannot hand bytes over within it returns the
    // count it managed (0 when none). Devices that never stall may ignore it.
    virtual void SetWriteTimeoutMs(int /*ms*/) {}
    // Waits, at most timeoutMs, until bytes already written have left the driver's output
    // queue. 0 when empty; devices without an output queue return 0 at once.
    virtual int DrainOutput(int /*timeoutMs*/) { return 0; }
    // Something the operator should know about the port that is no error (a USB adapter
    // that holds received bytes for long), once after an open; "" for nothing.
    virtual std::string TakeNotice() { return {}; }
};

}  // namespace ps

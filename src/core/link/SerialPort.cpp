// SPDX-License-Identifier: MIT
#include "link/SerialPort.h"

#include <algorithm>
#include <utility>

#include <cerrno>
#include <climits>
#include <cstring>

#include "link/WireTrace.h"

namespace ps {

namespace {

constexpr uint32_t BaudValues[] = {110,   300,   600,   1200,  2400,   4800,   9600,  14400,
                                   19200, 38400, 56000, 57600, 115200, 128000, 256000};

// errno values that mean the device itself is gone (adapter pulled out, the far side of a
// pseudo-terminal closed). After one of them every later operation fails the same way, so a
// device that answers later calls with "nothing waiting" can never pass for a silent board.
bool IsDeviceLoss(int err) {
    return err == EIO || err == ENXIO || err == ENODEV || err == EPIPE || err == EBADF ||
           err == ESHUTDOWN;
}

}  // namespace

std::string FormatPortMessage(const char* format, int code) {
    std::string out;
    bool numberDone = false;
    bool textDone = false;
    for (const char* p = format; *p != '\0'; ++p) {
        if (p[0] == '%' && p[1] == 'd' && !numberDone) {
            out += std::to_string(code);
            numberDone = true;
            ++p;
        } else if (p[0] == '%' && p[1] == 's' && !textDone) {
            out += std::strerror(code);
            textDone = true;
            ++p;
        } else {
            out += *p;
        }
    }
    return out;
}

uint32_t BaudRateValue(TBaudRate rate) {
    int i = static_cast<int>(rate);
    if (i < 0 || i >= static_cast<int>(std::size(BaudValues))) return 0;
    return BaudValues[i];
}

TSerialPort::TSerialPort(PortResolver resolver) : resolver_(std::move(resolver)) {}

TSerialPort::~TSerialPort() {
    Close();
}

void TSerialPort::SetResolver(PortResolver resolver) {
    std::lock_guard guard(lock_);
    resolver_ = std::move(resolver);
}

void TSerialPort::SetTrace(WireTrace* trace) {
    std::lock_guard guard(lock_);
    trace_ = trace;
}

void TSerialPort::TraceEvent(const std::string& text) const {
    if (trace_ != nullptr) trace_->Event(text);
}

void TSerialPort::Fail(const char* format, int code) const {
    std::string message = FormatPortMessage(format, code);
    TraceEvent("ERROR " + message);
    throw ESerialPortError(message);
}

void TSerialPort::RequireClosed() const {
    if (device_) {
        TraceEvent(std::string("ERROR ") + MsgPortIsOpen);
        throw ESerialPortError(MsgPortIsOpen);
    }
}

void TSerialPort::CheckLost(const char* format) const {
    if (lostErrno_ != 0) Fail(format, lostErrno_);
}

void TSerialPort::Check(long result, const char* format) {
    if (result >= 0) return;
    int err = static_cast<int>(-result);
    if (IsDeviceLoss(err)) lostErrno_ = err;
    Fail(format, err);
}

// ---- properties ----

void TSerialPort::SetPortNum(int n) {
    std::lock_guard guard(lock_);
    if (n == portNum_) return;
    RequireClosed();
    portNum_ = n;
}

void TSerialPort::SetBaudrate(TBaudRate rate) {
    std::lock_guard guard(lock_);
    // A raw rate in force means the line runs at another speed than the property says, so
    // writing the property is then a change even when the enumerator is the same.
    if (rate == baudrate_ && rawBaud_ == 0) return;
    baudrate_ = rate;
    rawBaud_ = 0;
    if (device_) {
        TraceEvent("BAUD " + std::to_string(BaudRateValue(rate)));
        ApplyLocked();
    }
}

// The line properties share one rule: a change applies at once on an open port.
#define PS_LINE_PROPERTY(Setter, Type, field) \
    void TSerialPort::Setter(Type value) {    \
        std::lock_guard guard(lock_);         \
        if (value == field) return;           \
        field = value;                        \
        if (device_) ApplyLocked();           \
    }
PS_LINE_PROPERTY(SetParity, TParity, parity_)
PS_LINE_PROPERTY(SetDatabits, TDataBits, databits_)
PS_LINE_PROPERTY(SetStopbits, TStopBits, stopbits_)
PS_LINE_PROPERTY(SetFlowControl, TFlowControl, flowControl_)
PS_LINE_PROPERTY(SetDTRControl, TDTRControl, dtrControl_)
PS_LINE_PROPERTY(SetRTSControl, TRTSControl, rtsControl_)
PS_LINE_PROPERTY(SetOptions, TSerialOptions, options_)
PS_LINE_PROPERTY(SetXonLim, int, xonLim_)
PS_LINE_PROPERTY(SetXoffLim, int, xoffLim_)
PS_LINE_PROPERTY(SetEventChars, const TSerialEventChars&, eventChars_)
#undef PS_LINE_PROPERTY

// Properties that only a closed port may change.
#define PS_CLOSED_PROPERTY(Setter, Type, field) \
    void TSerialPort::Setter(Type value) {      \
        std::lock_guard guard(lock_);           \
        if (value == field) return;             \
        RequireClosed();                        \
        field = value;                          \
    }
PS_CLOSED_PROPERTY(SetReadBufSize, int, readBufSize_)
PS_CLOSED_PROPERTY(SetWriteBufSize, int, writeBufSize_)
PS_CLOSED_PROPERTY(SetMonitorEvents, TSerialEvents, monitorEvents_)
PS_CLOSED_PROPERTY(SetPriority, int, priority_)
#undef PS_CLOSED_PROPERTY

void TSerialPort::SetWriteTimeout(int ms) {
    std::lock_guard guard(lock_);
    writeTimeout_ = ms;
    if (device_) device_->SetWriteTimeoutMs(ms);
}

uint32_t TSerialPort::EffectiveBaud() const {
    return rawBaud_ != 0 ? rawBaud_ : BaudRateValue(baudrate_);
}

LineSettings TSerialPort::CurrentLineSettings() const {
    LineSettings s;
    s.Baud = EffectiveBaud();
    s.DataBits = 4 + static_cast<int>(databits_);
    s.Parity = static_cast<int>(parity_);
    s.StopBits = static_cast<int>(stopbits_);
    s.RtsCts = flowControl_ == fcRtsCts;
    s.DtrDsr = flowControl_ == fcDtrDsr;
    s.XonXoff = flowControl_ == fcXonXoff;
    return s;
}

// ---- open and close ----

bool TSerialPort::Active() const {
    std::lock_guard guard(lock_);
    return device_ != nullptr;
}

std::string TSerialPort::DeviceName() const {
    std::lock_guard guard(lock_);
    return deviceName_;
}

void TSerialPort::Open() {
    std::lock_guard guard(lock_);
    RequireClosed();
    std::unique_ptr<PortDevice> device = resolver_ ? resolver_(portNum_) : nullptr;
    if (!device) {
        deviceName_.clear();
        lastOpenErrno_ = ENOENT;
        Fail(MsgInvalidPortNumber, portNum_);
    }
    deviceName_ = device->Name();  // also after a failed open: front ends name it in hints
    int rc = device->Open();
    if (rc < 0) {
        lastOpenErrno_ = device->LastOpenErrno() != 0 ? device->LastOpenErrno() : -rc;
        if (rc == -ENOENT || rc == -ENODEV || rc == -ENXIO) Fail(MsgInvalidPortNumber, portNum_);
        Fail(MsgCantOpenDevice, portNum_);
    }
    lastOpenErrno_ = 0;
    lostErrno_ = 0;
    rawBaud_ = 0;
    device->SetWriteTimeoutMs(writeTimeout_);

    // Line settings, then the control lines of the "enable"/"disable" modes. Reads need no
    // time-out set up (a device read returns at once), and the driver's queues and event
    // mask have no counterpart here. Any failure closes the port again.
    rc = device->ApplyLineSettings(CurrentLineSettings());
    if (rc >= 0 && dtrControl_ != dtrHandshake) rc = device->SetDtr(dtrControl_ == dtrEnable);
    if (rc >= 0 && (rtsControl_ == rtsEnable || rtsControl_ == rtsDisable))
        rc = device->SetRts(rtsControl_ == rtsEnable);
    if (rc < 0) {
        device->Close();
        Fail(MsgWriteDcb, -rc);
    }
    device_ = std::move(device);
    TraceEvent("OPEN COM" + std::to_string(portNum_) + " " + deviceName_ + " " +
               std::to_string(EffectiveBaud()));
    // Each notice once per port component: the port is reopened for every step.
    if (std::string notice = device_->TakeNotice(); !notice.empty()) {
        if (std::find(noticesSeen_.begin(), noticesSeen_.end(), notice) == noticesSeen_.end()) {
            noticesSeen_.push_back(notice);
            notices_.push_back(notice);
            TraceEvent("NOTE " + notice);
        }
    }
}

std::vector<std::string> TSerialPort::TakeNotices() {
    std::lock_guard guard(lock_);
    return std::exchange(notices_, {});
}

void TSerialPort::Close() {
    std::lock_guard guard(lock_);
    if (!device_) return;
    // Bytes already written get their time to leave (a write returns once the driver has
    // them, not once they are on the wire, and a last command sent without waiting for an
    // answer must not be cut off); then whatever is still pending is thrown away. A device
    // that has vanished can do neither, and that must not keep the port from being released.
    if (lostErrno_ == 0) device_->DrainOutput(writeTimeout_);
    device_->Purge();
    device_->Close();
    device_.reset();
    rawBaud_ = 0;
    lostErrno_ = 0;
    TraceEvent("CLOSE");
}

void TSerialPort::ApplyLineSettings() {
    std::lock_guard guard(lock_);
    if (device_) ApplyLocked();
}

void TSerialPort::ApplyLocked() {
    CheckLost(MsgWriteDcb);
    Check(device_->ApplyLineSettings(CurrentLineSettings()), MsgWriteDcb);
}

void TSerialPort::SetRawBaud(uint32_t baud) {
    std::lock_guard guard(lock_);
    // There is no line state to change on a closed port; saying nothing would let a caller
    // believe the rate is set.
    if (!device_) Fail(MsgReadDcb, EBADF);
    if (baud == 0) Fail(MsgWriteDcb, EINVAL);
    rawBaud_ = baud;
    TraceEvent("BAUD " + std::to_string(baud));
    ApplyLocked();
}

// ---- data ----

int TSerialPort::WriteBuf(const uint8_t* data, int count) {
    std::lock_guard guard(lock_);
    if (!device_) Fail(MsgWriteError, EBADF);
    CheckLost(MsgWriteError);
    if (count < 0) count = 0;
    long written = device_->Write(data, static_cast<size_t>(count));
    Check(written, MsgWriteError);
    if (written > count) written = count;
    bytesSent_ += written;
    if (trace_ != nullptr) {
        trace_->Bytes("TX", data, static_cast<size_t>(written));
        if (written < count) TraceEvent("TX TIMEOUT " + std::to_string(count - written));
    }
    return static_cast<int>(written);
}

int TSerialPort::ReadBuf(uint8_t* data, int count) {
    std::lock_guard guard(lock_);
    if (!device_) Fail(MsgReadError, EBADF);
    CheckLost(MsgReadError);
    if (count <= 0) return 0;
    long got = device_->Read(data, static_cast<size_t>(count));
    Check(got, MsgReadError);
    if (got > count) got = count;
    if (got > 0) bytesReceived_ += got;
    if (got > 0 && trace_ != nullptr) trace_->Bytes("RX", data, static_cast<size_t>(got));
    return static_cast<int>(got);
}

bool TSerialPort::WriteText(const std::string& text) {
    if (text.size() > static_cast<size_t>(INT_MAX)) Fail(MsgWriteError, EFBIG);
    int count = static_cast<int>(text.size());
    return WriteBuf(reinterpret_cast<const uint8_t*>(text.data()), count) == count;
}

bool TSerialPort::WriteChar(uint8_t c) {
    return WriteBuf(&c, 1) == 1;
}

bool TSerialPort::ReadChar(uint8_t& c) {
    std::lock_guard guard(lock_);
    return InputCount() > 0 && ReadBuf(&c, 1) == 1;
}

int TSerialPort::InputCount() {
    std::lock_guard guard(lock_);
    if (!device_) return 0;
    CheckLost(MsgStatistics);
    long n = device_->BytesWaiting();
    Check(n, MsgStatistics);
    return n > INT_MAX ? INT_MAX : static_cast<int>(n);
}

void TSerialPort::PurgeAll() {
    std::lock_guard guard(lock_);
    if (!device_) return;  // nothing is queued on a closed port
    TraceEvent("PURGE");
    CheckLost(MsgClearBuffers);
    Check(device_->Purge(), MsgClearBuffers);
}

void TSerialPort::SetDTR(bool asserted) {
    SetLine(true, asserted);
}

void TSerialPort::SetRTS(bool asserted) {
    SetLine(false, asserted);
}

void TSerialPort::SetLine(bool dtr, bool asserted) {
    std::lock_guard guard(lock_);
    const bool handshake = dtr ? dtrControl_ == dtrHandshake : rtsControl_ == rtsHandshake;
    if (handshake) {
        const char* message = dtr ? MsgManualDtr : MsgManualRts;
        TraceEvent(std::string("ERROR ") + message);
        throw ESerialPortError(message);
    }
    if (!device_) return;
    TraceEvent(std::string(dtr ? "DTR " : "RTS ") + (asserted ? "1" : "0"));
    CheckLost(MsgCommFunction);
    Check(dtr ? device_->SetDtr(asserted) : device_->SetRts(asserted), MsgCommFunction);
}

bool TSerialPort::WaitWritten(int timeoutMs) {
    std::lock_guard guard(lock_);
    if (!device_) return true;
    CheckLost(MsgWriteError);
    const int rc = device_->DrainOutput(timeoutMs < 0 ? 0 : timeoutMs);
    if (rc == -ETIMEDOUT) return false;
    Check(rc, MsgWriteError);
    return true;
}

bool TSerialPort::WaitReadable(int timeoutMs) {
    std::lock_guard guard(lock_);
    if (!device_) return false;
    CheckLost(MsgReadError);
    int rc = device_->WaitReadable(timeoutMs < 0 ? 0 : timeoutMs);
    Check(rc, MsgReadError);
    return rc > 0;
}

bool TSerialPort::WaitReadableUs(int64_t timeoutUs, const std::vector<int>& wakeFds) {
    std::lock_guard guard(lock_);
    if (!device_) return false;
    CheckLost(MsgReadError);
    int rc = device_->WaitReadableOrWake(timeoutUs < 0 ? 0 : timeoutUs, wakeFds);
    Check(rc, MsgReadError);
    return rc > 0;
}

}  // namespace ps

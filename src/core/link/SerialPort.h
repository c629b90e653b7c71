// SPDX-License-Identifier: MIT
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "link/PortDevice.h"

namespace ps {

class WireTrace;

// Raised by every failing port operation, with the component's own message texts.
class ESerialPortError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The component's messages. "%d" is the port number or the OS error code, "%s" the OS's
// text for that code (see FormatPortMessage).
inline constexpr char MsgInvalidPortNumber[] = "Invalid port number (COM%d)";
inline constexpr char MsgCantOpenDevice[] = "Can't open device COM%d";
inline constexpr char MsgPortIsOpen[] = "Can't perform this operation when port is open";
inline constexpr char MsgManualDtr[] = "Manual DTR line updates not allowed.";
inline constexpr char MsgManualRts[] = "Manual RTS line updates not allowed.";
inline constexpr char MsgEventMask[] = " Error setting EventMask (%d), %s";
inline constexpr char MsgClearBuffers[] = "Error clearing buffers (%d), %s";
inline constexpr char MsgSetTimeouts[] = "Error setting timeouts (%d), %s";
inline constexpr char MsgInitBuffers[] = "Error initializing buffers (%d), %s";
inline constexpr char MsgReadDcb[] = "Error reading dcb (%d), %s";
inline constexpr char MsgWriteDcb[] = "Error writing dcb (%d), %s";
inline constexpr char MsgCommFunction[] = "Error calling comm function (%d), %s";
inline constexpr char MsgWriteError[] = "Write error (%d), %s";
inline constexpr char MsgReadError[] = "Read error (%d), %s";
inline constexpr char MsgStatistics[] = "Error retrieving statistics (%d), %s";

// Fills a message: the first "%d" with code, the first "%s" with strerror(code). The
// format is never handed to printf, so a message text can never misread its arguments.
std::string FormatPortMessage(const char* format, int code);

enum TBaudRate {
    br110,
    br300,
    br600,
    br1200,
    br2400,
    br4800,
    br9600,
    br14400,
    br19200,
    br38400,
    br56000,
    br57600,
    br115200,
    br128000,
    br256000
};
enum TParity { paNone, paOdd, paEven, paMark, paSpace };
enum TDataBits { db4, db5, db6, db7, db8 };
enum TStopBits { sb1, sb15, sb2 };
enum TFlowControl { fcNone, fcRtsCts, fcDtrDsr, fcXonXoff };
enum TDTRControl { dtrDisable, dtrEnable, dtrHandshake };
enum TRTSControl { rtsDisable, rtsEnable, rtsHandshake, rtsToggle };

// Sets of options and events, one bit per enumerator.
enum TSerialOption { coContinueOnXOff, coErrorChar, coNullStrip, coParityCheck, coDsrSensitivity };
enum TSerialEvent { ceBreak, ceCts, ceDsr, ceError, ceRing, ceRlsd, ceData, ceTxEmpty, ceEvent };
using TSerialOptions = uint32_t;
using TSerialEvents = uint32_t;
constexpr uint32_t SetOf(int member) {
    return 1u << member;
}

struct TSerialEventChars {
    uint8_t XonChar = 0x11;
    uint8_t XoffChar = 0x13;
    uint8_t ErrorChar = 0x00;
    uint8_t EventChar = 0x00;
    bool operator==(const TSerialEventChars&) const = default;
};

uint32_t BaudRateValue(TBaudRate rate);

// Turns a COM port number into a device (nullptr: the machine has no such port).
using PortResolver = std::function<std::unique_ptr<PortDevice>(int portNum)>;

// The serial port component: the station's only door to the board.
//
// Every failing device call raises ESerialPortError. A device that has gone away (a USB
// adapter pulled out, the far side of a pseudo-terminal closed) raises at the next
// operation that touches it, so a vanished port never looks like a silent board.
class TSerialPort {
public:
    explicit TSerialPort(PortResolver resolver = {});
    ~TSerialPort();
    TSerialPort(const TSerialPort&) = delete;
    TSerialPort& operator=(const TSerialPort&) = delete;

    void SetResolver(PortResolver resolver);
    void SetTrace(WireTrace* trace);  // may be nullptr

    // Properties. Writes of closed-only properties while open raise
    // "Can't perform this operation when port is open" (writing the same value never fails).
    // The line properties apply at once on an open port, and only when the value changes.
    int PortNum() const { return portNum_; }
    void SetPortNum(int n);
    TBaudRate Baudrate() const { return baudrate_; }
    void SetBaudrate(TBaudRate rate);
    TParity Parity() const { return parity_; }
    void SetParity(TParity p);
    TDataBits Databits() const { return databits_; }
    void SetDatabits(TDataBits d);
    TStopBits Stopbits() const { return stopbits_; }
    void SetStopbits(TStopBits s);
    TFlowControl FlowControl() const { return flowControl_; }
    void SetFlowControl(TFlowControl f);
    TDTRControl DTRControl() const { return dtrControl_; }
    void SetDTRControl(TDTRControl c);
    TRTSControl RTSControl() const { return rtsControl_; }
    void SetRTSControl(TRTSControl c);
    TSerialOptions Options() const { return options_; }
    void SetOptions(TSerialOptions o);
    int XonLim() const { return xonLim_; }
    void SetXonLim(int n);
    int XoffLim() const { return xoffLim_; }
    void SetXoffLim(int n);
    const TSerialEventChars& EventChars() const { return eventChars_; }
    void SetEventChars(const TSerialEventChars& chars);
    int ReadBufSize() const { return readBufSize_; }
    void SetReadBufSize(int n);
    int WriteBufSize() const { return writeBufSize_; }
    void SetWriteBufSize(int n);
    TSerialEvents MonitorEvents() const { return monitorEvents_; }
    void SetMonitorEvents(TSerialEvents e);
    int Priority() const { return priority_; }  // 0 normal; kept, no event thread is needed
    void SetPriority(int p);
    int ReadTimeout() const { return readTimeout_; }
    void SetReadTimeout(int ms) { readTimeout_ = ms; }
    int WriteTimeout() const { return writeTimeout_; }
    void SetWriteTimeout(int ms);

    void Open();
    // Never raises: a port whose device has vanished must still be released.
    void Close();
    bool Active() const;

    // Returns the count written; 0 (or a short count) when the write time limit passed.
    int WriteBuf(const uint8_t* data, int count);
    // Returns at once with at most count of the bytes already received.
    int ReadBuf(uint8_t* data, int count);
    bool WriteText(const std::string& text);  // length-counted: zero bytes are sent
    bool WriteChar(uint8_t c);
    bool ReadChar(uint8_t& c);
    // Bytes that went out and came in since the component was made, whatever the device;
    // run records and the progress rate take differences of them.
    int64_t BytesSent() const { return bytesSent_; }
    // What the devices opened so far had to say that is no error, each text once; the
    // front ends show it (the terminal station on standard error), the trace has it too.
    std::vector<std::string> TakeNotices();
    int64_t BytesReceived() const { return bytesReceived_; }
    int InputCount();  // 0 when closed
    void PurgeAll();
    void SetDTR(bool asserted);  // nothing when closed
    void SetRTS(bool asserted);  // nothing when closed
    void ApplyLineSettings();    // nothing when closed

    // Sets a rate outside the TBaudRate list on the open port (the "7200" case). It stays
    // in force until Baudrate is written or the port closes. Raises on a closed port.
    void SetRawBaud(uint32_t baud);
    // The rate the line runs at (or will run at on the next Open).
    uint32_t EffectiveBaud() const;
    // Waits until input is waiting or timeoutMs has passed; true when input is waiting.
    // Raises when the device has gone away, so a vanished port never looks like a silent board.
    // On a closed port it returns false at once: nothing can arrive, and the caller paces
    // its own loop.
    bool WaitReadable(int timeoutMs);
    // The same in microseconds (NoDeadlineUs: no limit), also ending once one of wakeFds
    // is readable (see PortDevice::WaitReadableOrWake).
    bool WaitReadableUs(int64_t timeoutUs, const std::vector<int>& wakeFds);
    // Waits until the bytes written have left the port or timeoutMs has passed; true when
    // they have (and on a closed port, which holds none). Raises when the device has gone.
    bool WaitWritten(int timeoutMs);

    // The name of the device last opened or tried (for messages and OpenFailureHint), and
    // errno of a failed open.
    std::string DeviceName() const;
    int LastOpenErrno() const { return lastOpenErrno_; }

private:
    [[noreturn]] void Fail(const char* format, int code) const;
    void RequireClosed() const;
    void SetLine(bool dtr, bool asserted);
    // Raises format with the device's loss errno once the device has gone away.
    void CheckLost(const char* format) const;
    // Raises format for a negative device result, remembering a lost device.
    void Check(long result, const char* format);
    void ApplyLocked();
    void TraceEvent(const std::string& text) const;
    LineSettings CurrentLineSettings() const;

    PortResolver resolver_;
    WireTrace* trace_ = nullptr;
    std::unique_ptr<PortDevice> device_;
    mutable std::recursive_mutex lock_;
    int portNum_ = 0;
    TBaudRate baudrate_ = br1200;
    uint32_t rawBaud_ = 0;  // non-zero while a rate outside the list is in force
    TParity parity_ = paNone;
    TDataBits databits_ = db8;
    TStopBits stopbits_ = sb1;
    TFlowControl flowControl_ = fcRtsCts;
    TDTRControl dtrControl_ = dtrEnable;
    TRTSControl rtsControl_ = rtsEnable;
    TSerialOptions options_ = 0;
    int xonLim_ = 1024;
    int xoffLim_ = 1024;
    TSerialEventChars eventChars_;
    std::vector<std::string> notices_, noticesSeen_;
    int64_t bytesSent_ = 0;
    int64_t bytesReceived_ = 0;
    int readBufSize_ = 4096;
    int writeBufSize_ = 2048;
    TSerialEvents monitorEvents_ = 0;
    int priority_ = 0;
    int readTimeout_ = 1000;
    int writeTimeout_ = 1000;
    int lastOpenErrno_ = 0;
    int lostErrno_ = 0;  // non-zero once the open device has gone away
    std::string deviceName_;
};

}  // namespace ps

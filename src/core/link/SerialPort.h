#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

#include "link/PortDevice.h"

namespace ps {

class WireTrace;

// Raised by every failing port operation, with the component's own message texts.
class ESerialPortError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum TBaudRate {
    br110, br300, br600, br1200, br2400, br4800, br9600, br14400, br19200,
    br38400, br56000, br57600, br115200, br128000, br256000
};
enum TParity { paNone, paOdd, paEven, paMark, paSpace };
enum TDataBits { db4, db5, db6, db7, db8 };
enum TStopBits { sb1, sb15, sb2 };
enum TFlowControl { fcNone, fcRtsCts, fcDtrDsr, fcXonXoff };
enum TDTRControl { dtrDisable, dtrEnable, dtrHandshake };
enum TRTSControl { rtsDisable, rtsEnable, rtsHandshake, rtsToggle };

uint32_t BaudRateValue(TBaudRate rate);

// Turns a COM port number into a device (nullptr: the machine has no such port).
using PortResolver = std::function<std::unique_ptr<PortDevice>(int portNum)>;

// The serial port component: the station's only door to the board.
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
    int ReadBufSize() const { return readBufSize_; }
    void SetReadBufSize(int n);
    int WriteBufSize() const { return writeBufSize_; }
    void SetWriteBufSize(int n);
    int ReadTimeout() const { return readTimeout_; }
    int WriteTimeout() const { return writeTimeout_; }

    void Open();
    void Close();
    bool Active() const;

    int WriteBuf(const uint8_t* data, int count);
    int ReadBuf(uint8_t* data, int count);
    bool WriteText(const std::string& text);
    bool WriteChar(uint8_t c);
    bool ReadChar(uint8_t& c);
    int InputCount();
    void PurgeAll();
    void SetDTR(bool asserted);
    void SetRTS(bool asserted);
    void ApplyLineSettings();

    // Sets a rate outside the TBaudRate list on the open port (the "7200" case).
    void SetRawBaud(uint32_t baud);
    // Waits until input is waiting or timeoutMs has passed; true when input is waiting.
    // Raises when the device has gone away, so a vanished port never looks like a silent board.
    bool WaitReadable(int timeoutMs);

    // The device's name once opened (for messages), and errno of a failed open.
    std::string DeviceName() const;
    int LastOpenErrno() const { return lastOpenErrno_; }

private:
    [[noreturn]] void Fail(const char* format, int code) const;
    void RequireClosed() const;

    PortResolver resolver_;
    WireTrace* trace_ = nullptr;
    std::unique_ptr<PortDevice> device_;
    int portNum_ = 0;
    TBaudRate baudrate_ = br1200;
    uint32_t rawBaud_ = 0;  // non-zero while a rate outside the list is in force
    TParity parity_ = paNone;
    TDataBits databits_ = db8;
    TStopBits stopbits_ = sb1;
    TFlowControl flowControl_ = fcRtsCts;
    TDTRControl dtrControl_ = dtrEnable;
    TRTSControl rtsControl_ = rtsEnable;
    int readBufSize_ = 4096;
    int writeBufSize_ = 2048;
    int readTimeout_ = 1000;
    int writeTimeout_ = 1000;
    int lastOpenErrno_ = 0;
    std::string deviceName_;
};

}  // namespace ps

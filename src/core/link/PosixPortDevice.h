#pragma once
#include <string>

#include "link/PortDevice.h"

namespace ps {

// A serial port through POSIX termios: a real port, a USB adapter or a pseudo-terminal.
//
// Opened for exclusive use (TIOCEXCL, and an advisory flock because TIOCEXCL does not
// stop root), raw, with reads that return at once. A device without modem-control lines
// (a pseudo-terminal) takes DTR/RTS requests without effect. A device that goes away while
// open (hang-up) makes every later call fail with -EIO.
class PosixPortDevice : public PortDevice {
public:
    explicit PosixPortDevice(std::string path);
    ~PosixPortDevice() override;
    PosixPortDevice(const PosixPortDevice&) = delete;
    PosixPortDevice& operator=(const PosixPortDevice&) = delete;

    std::string Name() const override { return path_; }
    int Open() override;
    void Close() override;
    bool IsOpen() const override { return fd_ >= 0; }
    int ApplyLineSettings(const LineSettings& settings) override;
    long Write(const uint8_t* data, size_t count) override;
    long Read(uint8_t* data, size_t count) override;
    long BytesWaiting() override;
    int Purge() override;
    int SetDtr(bool asserted) override;
    int SetRts(bool asserted) override;
    int WaitReadable(int timeoutMs) override;
    int LastOpenErrno() const override { return lastOpenErrno_; }
    void SetWriteTimeoutMs(int ms) override { writeTimeoutMs_ = ms; }
    int DrainOutput(int timeoutMs) override;

    // The output rate the driver runs the line at now (0 when closed or unknown).
    unsigned LineBaud() const;

private:
    int SetModemLine(int bit, bool asserted);
    bool HungUp() const;  // a zero-time poll reports hang-up or error

    std::string path_;
    int fd_ = -1;
    int lastOpenErrno_ = 0;
    int writeTimeoutMs_ = 1000;
};

// Sets a baud rate the termios speed table may not have (7200) through termios2/BOTHER.
// Lives apart because the kernel's termios headers clash with <termios.h>. Returns 0 or a
// negative errno.
int SetCustomBaud(int fd, unsigned baud);
// The driver's output rate of fd, in baud; 0 when it cannot be read.
unsigned GetLineBaud(int fd);

}  // namespace ps

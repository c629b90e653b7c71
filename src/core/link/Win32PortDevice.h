// SPDX-License-Identifier: MIT
#pragma once
#include <windows.h>

#include <memory>
#include <string>
#include <utility>

#include "link/PortDevice.h"
#include "link/Win32PortList.h"

namespace ps {

// The device's calls into the Win32 communications API: every call on the port's handle
// goes through here. The base class makes the real calls (each returns what the API does;
// the error is GetLastError()). A test hands the device its own to see what Wine cannot
// show: the DCB asked for, the DTR and RTS levels, the timeouts.
class CommCalls {
public:
    virtual ~CommCalls() = default;
    virtual HANDLE Open(const std::wstring& path);  // overlapped, exclusive
    virtual BOOL Close(HANDLE h);
    virtual BOOL GetState(HANDLE h, DCB& dcb);
    virtual BOOL SetState(HANDLE h, const DCB& dcb);
    virtual BOOL SetTimeouts(HANDLE h, const COMMTIMEOUTS& timeouts);
    virtual BOOL SetMask(HANDLE h, DWORD mask);
    // Clears the error state and tells the bytes waiting in both queues.
    virtual BOOL ClearError(HANDLE h, DWORD& errors, COMSTAT& status);
    virtual BOOL Purge(HANDLE h, DWORD flags);
    virtual BOOL Escape(HANDLE h, DWORD function);
    // Overlapped transfers; each waits for its own completion within the port's timeouts.
    virtual BOOL Read(HANDLE h, void* data, DWORD count, DWORD& done);
    virtual BOOL Write(HANDLE h, const void* data, DWORD count, DWORD& done);
    // Waits at most timeoutMs for EV_RXCHAR: TRUE when it came (or the wait cannot tell),
    // FALSE with the error when the device failed; a wait that ran out is TRUE too, for the
    // caller rechecks the queue count either way.
    virtual BOOL WaitReceived(HANDLE h, DWORD timeoutMs);
    virtual DWORD LastError();

    static std::shared_ptr<CommCalls> Real();
};

// A serial port through the Win32 communications API: \\.\COMn, a USB adapter's COM port,
// or under Wine a pseudo-terminal mapped to a COM port.
//
// Windows opens a COM port for one program only. Any baud rate, 8N1 as asked, no flow
// control, DTR and RTS under the station's control, no abort on line errors; reads return
// at once, writes within the port's write time limit. A device that fails while open (an
// adapter pulled out) makes every later call fail with -EIO.
class Win32PortDevice : public PortDevice {
public:
    // `ports` finds the adapter's settings for the notice of a slow latency timer.
    explicit Win32PortDevice(std::string path, std::shared_ptr<CommCalls> calls = CommCalls::Real(),
                             std::shared_ptr<PortListCalls> ports = PortListCalls::Real());
    ~Win32PortDevice() override;
    Win32PortDevice(const Win32PortDevice&) = delete;
    Win32PortDevice& operator=(const Win32PortDevice&) = delete;

    std::string Name() const override { return path_; }
    int Open() override;
    void Close() override;
    bool IsOpen() const override { return handle_ != INVALID_HANDLE_VALUE; }
    int ApplyLineSettings(const LineSettings& settings) override;
    long Write(const uint8_t* data, size_t count) override;
    long Read(uint8_t* data, size_t count) override;
    long BytesWaiting() override;
    int Purge() override;
    int SetDtr(bool asserted) override;
    int SetRts(bool asserted) override;
    int WaitReadable(int timeoutMs) override;
    int LastOpenErrno() const override { return lastOpenErrno_; }
    void SetWriteTimeoutMs(int ms) override;
    int DrainOutput(int timeoutMs) override;
    std::string TakeNotice() override { return std::exchange(notice_, {}); }

private:
    int ApplyTimeouts();
    int SetModemLine(DWORD on, DWORD off, bool asserted, bool& level);
    int Lost(DWORD error);  // the errno for a failed call; remembers a lost device

    std::string path_;
    std::shared_ptr<CommCalls> calls_;
    std::shared_ptr<PortListCalls> ports_;
    std::string notice_;
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    int lastOpenErrno_ = 0;
    int writeTimeoutMs_ = 1000;
    bool dtr_ = true;  // Windows raises both lines when it opens a port
    bool rts_ = true;
    bool lost_ = false;
};

// Win32 error -> the errno the port's messages are written for.
int ErrnoOfCommError(DWORD error);

// "COM7" (any case) -> "\\.\COM7", the form every COM number takes; anything else as given.
std::string Win32DevicePath(const std::string& name);

// A COM port (any form Win32DevicePath takes) that the system does not have now; false
// for other paths.
bool Win32DeviceMissing(const std::string& path);

}  // namespace ps

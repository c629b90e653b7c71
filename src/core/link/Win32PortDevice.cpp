// SPDX-License-Identifier: MIT
#include "link/Win32PortDevice.h"

#include <cerrno>
#include <cctype>

#include "link/Link.h"
#include "link/PosixPortDevice.h"
#include "link/SystemPort.h"

namespace ps {

namespace {

BOOL Finish(HANDLE h, OVERLAPPED& ov, BOOL started, DWORD& done) {
    if (!started && GetLastError() != ERROR_IO_PENDING) {
        CloseHandle(ov.hEvent);
        return FALSE;
    }
    const BOOL ok = GetOverlappedResult(h, &ov, &done, TRUE);
    const DWORD error = GetLastError();
    CloseHandle(ov.hEvent);
    SetLastError(error);
    return ok;
}

}  // namespace

HANDLE CommCalls::Open(const std::wstring& path) {
    return CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                       FILE_FLAG_OVERLAPPED, nullptr);
}
BOOL CommCalls::Close(HANDLE h) {
    return CloseHandle(h);
}
BOOL CommCalls::GetState(HANDLE h, DCB& dcb) {
    dcb.DCBlength = sizeof dcb;
    return GetCommState(h, &dcb);
}
BOOL CommCalls::SetState(HANDLE h, const DCB& dcb) {
    DCB copy = dcb;
    return SetCommState(h, &copy);
}
BOOL CommCalls::SetTimeouts(HANDLE h, const COMMTIMEOUTS& timeouts) {
    COMMTIMEOUTS copy = timeouts;
    return SetCommTimeouts(h, &copy);
}
BOOL CommCalls::SetMask(HANDLE h, DWORD mask) {
    return SetCommMask(h, mask);
}
BOOL CommCalls::ClearError(HANDLE h, DWORD& errors, COMSTAT& status) {
    return ClearCommError(h, &errors, &status);
}
BOOL CommCalls::Purge(HANDLE h, DWORD flags) {
    return PurgeComm(h, flags);
}
BOOL CommCalls::Escape(HANDLE h, DWORD function) {
    return EscapeCommFunction(h, function);
}
BOOL CommCalls::Read(HANDLE h, void* data, DWORD count, DWORD& done) {
    OVERLAPPED ov{};
    ov.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    done = 0;
    return Finish(h, ov, ReadFile(h, data, count, nullptr, &ov), done);
}
BOOL CommCalls::Write(HANDLE h, const void* data, DWORD count, DWORD& done) {
    OVERLAPPED ov{};
    ov.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    done = 0;
    return Finish(h, ov, WriteFile(h, data, count, nullptr, &ov), done);
}
BOOL CommCalls::WaitReceived(HANDLE h, DWORD timeoutMs) {
    OVERLAPPED ov{};
    ov.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DWORD mask = 0;
    BOOL ok = TRUE;
    if (!WaitCommEvent(h, &mask, &ov)) {
        if (GetLastError() != ERROR_IO_PENDING) {
            const DWORD error = GetLastError();
            CloseHandle(ov.hEvent);
            SetLastError(error);
            return FALSE;
        }
        if (WaitForSingleObject(ov.hEvent, timeoutMs) != WAIT_OBJECT_0) {
            // Time passed: the wait is cancelled and its end awaited, so the OVERLAPPED is
            // no longer in use when it goes.
            CancelIo(h);
        }
        DWORD ignored = 0;
        if (!GetOverlappedResult(h, &ov, &ignored, TRUE) &&
            GetLastError() != ERROR_OPERATION_ABORTED)
            ok = FALSE;
    }
    const DWORD error = GetLastError();
    CloseHandle(ov.hEvent);
    SetLastError(error);
    return ok;
}
DWORD CommCalls::LastError() {
    return GetLastError();
}
std::shared_ptr<CommCalls> CommCalls::Real() {
    static const std::shared_ptr<CommCalls> real = std::make_shared<CommCalls>();
    return real;
}

int ErrnoOfCommError(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return ENOENT;
        case ERROR_ACCESS_DENIED:  // what Windows says for a port another program holds
        case ERROR_SHARING_VIOLATION:
            return EBUSY;
        case ERROR_INVALID_PARAMETER:
            return EINVAL;
        case ERROR_INVALID_FUNCTION:
        case ERROR_NOT_SUPPORTED:
            return ENOTTY;
        case ERROR_SEM_TIMEOUT:
        case WAIT_TIMEOUT:
            return ETIMEDOUT;
        default:  // ERROR_GEN_FAILURE, ERROR_DEVICE_REMOVED, ERROR_BAD_COMMAND, ...
            return EIO;
    }
}

std::string Win32DevicePath(const std::string& name) {
    if (name.size() >= 4 && name.size() <= 6 &&
        (name[0] == 'C' || name[0] == 'c') && (name[1] == 'O' || name[1] == 'o') &&
        (name[2] == 'M' || name[2] == 'm')) {
        bool digits = true;
        for (size_t i = 3; i < name.size(); ++i)
            digits = digits && std::isdigit(static_cast<unsigned char>(name[i]));
        if (digits) return "\\\\.\\COM" + name.substr(3);
    }
    return name;
}

std::string SystemPortPath(int portNum) {
    return "\\\\.\\COM" + std::to_string(portNum);
}

// QueryDosDevice knows every COM port there is now.
bool Win32DeviceMissing(const std::string& path) {
    const std::string device = Win32DevicePath(path);
    const std::string prefix = "\\\\.\\";
    if (device.compare(0, prefix.size(), prefix) != 0) return false;
    wchar_t target[1024];
    return QueryDosDeviceW(ps_Wide(device.substr(prefix.size()).c_str()).c_str(), target, 1024) == 0 &&
           GetLastError() == ERROR_FILE_NOT_FOUND;
}

std::unique_ptr<PortDevice> MakeSystemPortDevice(const std::string& path) {
    // A COM port that is not there is "no such port", not an open failure.
    if (Win32DeviceMissing(path)) return nullptr;
    return std::make_unique<Win32PortDevice>(Win32DevicePath(path));
}

// Windows has no kernel console on a serial port.
bool IsSystemConsole(const std::string&) {
    return false;
}

Win32PortDevice::Win32PortDevice(std::string path, std::shared_ptr<CommCalls> calls,
                                 std::shared_ptr<PortListCalls> ports)
    : path_(std::move(path)),
      calls_(calls ? std::move(calls) : CommCalls::Real()),
      ports_(ports ? std::move(ports) : PortListCalls::Real()) {}

Win32PortDevice::~Win32PortDevice() {
    Close();
}

int Win32PortDevice::Lost(DWORD error) {
    const int err = ErrnoOfCommError(error);
    if (err == EIO) lost_ = true;
    return -err;
}

int Win32PortDevice::Open() {
    if (IsOpen()) return -EBUSY;
    HANDLE h = calls_->Open(ps_Wide(path_.c_str()));
    if (h == INVALID_HANDLE_VALUE) {
        lastOpenErrno_ = ErrnoOfCommError(calls_->LastError());
        return -lastOpenErrno_;
    }
    auto fail = [&](int err) {
        calls_->Close(h);
        lastOpenErrno_ = err;
        return -err;
    };
    // Not a serial port (a file or a printer named by mistake): there is no line to drive.
    DCB dcb{};
    if (!calls_->GetState(h, dcb)) return fail(ENOTTY);
    if (!calls_->SetMask(h, EV_RXCHAR)) return fail(ErrnoOfCommError(calls_->LastError()));
    handle_ = h;
    lost_ = false;
    dtr_ = rts_ = true;
    if (int r = ApplyTimeouts(); r != 0) {
        calls_->Close(h);
        handle_ = INVALID_HANDLE_VALUE;
        lastOpenErrno_ = -r;
        return r;
    }
    lastOpenErrno_ = 0;
    // Windows has no request for low latency on a port: the FTDI driver's own setting is
    // what holds the answers back, and only the operator can lower it.
    notice_ = Win32LatencyNotice(*ports_, path_);
    return 0;
}

void Win32PortDevice::Close() {
    if (!IsOpen()) return;
    calls_->Close(handle_);
    handle_ = INVALID_HANDLE_VALUE;
}

// Reads return at once with what is there; a write may take the port's time limit.
int Win32PortDevice::ApplyTimeouts() {
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = MAXDWORD;
    t.ReadTotalTimeoutMultiplier = 0;
    t.ReadTotalTimeoutConstant = 0;
    t.WriteTotalTimeoutMultiplier = 0;
    t.WriteTotalTimeoutConstant = static_cast<DWORD>(writeTimeoutMs_ > 0 ? writeTimeoutMs_ : 1);
    if (!calls_->SetTimeouts(handle_, t)) return Lost(calls_->LastError());
    return 0;
}

void Win32PortDevice::SetWriteTimeoutMs(int ms) {
    writeTimeoutMs_ = ms;
    if (IsOpen()) ApplyTimeouts();
}

int Win32PortDevice::ApplyLineSettings(const LineSettings& s) {
    if (!IsOpen()) return -EBADF;
    if (lost_) return -EIO;
    if (s.DataBits < 4 || s.DataBits > 8 || s.Parity < 0 || s.Parity > 4 || s.StopBits < 0 ||
        s.StopBits > 2)
        return -EINVAL;
    DCB dcb{};
    if (!calls_->GetState(handle_, dcb)) return Lost(calls_->LastError());
    dcb.BaudRate = s.Baud;
    dcb.ByteSize = static_cast<BYTE>(s.DataBits);
    dcb.Parity = static_cast<BYTE>(s.Parity);      // NOPARITY..SPACEPARITY in this order
    dcb.StopBits = static_cast<BYTE>(s.StopBits);  // ONESTOPBIT, ONE5STOPBITS, TWOSTOPBITS
    dcb.fBinary = TRUE;
    dcb.fParity = s.Parity != 0;
    dcb.fOutxCtsFlow = s.RtsCts;
    dcb.fRtsControl = s.RtsCts ? RTS_CONTROL_HANDSHAKE
                               : (rts_ ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE);
    dcb.fOutxDsrFlow = s.DtrDsr;
    dcb.fDtrControl = s.DtrDsr ? DTR_CONTROL_HANDSHAKE
                               : (dtr_ ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE);
    dcb.fDsrSensitivity = FALSE;
    dcb.fTXContinueOnXoff = TRUE;
    dcb.fOutX = s.XonXoff;
    dcb.fInX = s.XonXoff;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;  // a framing error must not stop every later read
    if (!calls_->SetState(handle_, dcb)) return Lost(calls_->LastError());
    // A driver may take a rate or a format it cannot run and run another: only the state
    // read back tells.
    DCB now{};
    if (!calls_->GetState(handle_, now)) return Lost(calls_->LastError());
    if (now.BaudRate != dcb.BaudRate || now.ByteSize != dcb.ByteSize ||
        now.Parity != dcb.Parity || now.StopBits != dcb.StopBits)
        return -EINVAL;
    return 0;
}

long Win32PortDevice::Write(const uint8_t* data, size_t count) {
    if (!IsOpen()) return -EBADF;
    if (lost_) return -EIO;
    size_t done = 0;
    while (done < count) {
        const DWORD chunk = static_cast<DWORD>(count - done > 65536 ? 65536 : count - done);
        DWORD n = 0;
        const BOOL ok = calls_->Write(handle_, data + done, chunk, n);
        done += n;
        if (!ok) {
            const DWORD error = calls_->LastError();
            if (error == ERROR_SEM_TIMEOUT || error == WAIT_TIMEOUT) break;
            if (done == 0) return Lost(error);
            break;
        }
        if (n < chunk) break;  // the write time limit passed
    }
    return static_cast<long>(done);
}

long Win32PortDevice::Read(uint8_t* data, size_t count) {
    if (!IsOpen()) return -EBADF;
    if (lost_) return -EIO;
    if (count == 0) return 0;
    DWORD n = 0;
    if (!calls_->Read(handle_, data, static_cast<DWORD>(count > 65536 ? 65536 : count), n))
        return Lost(calls_->LastError());
    return static_cast<long>(n);
}

long Win32PortDevice::BytesWaiting() {
    if (!IsOpen()) return -EBADF;
    if (lost_) return -EIO;
    DWORD errors = 0;
    COMSTAT status{};
    if (!calls_->ClearError(handle_, errors, status)) return Lost(calls_->LastError());
    return static_cast<long>(status.cbInQue);
}

int Win32PortDevice::DrainOutput(int timeoutMs) {
    if (!IsOpen()) return -EBADF;
    if (lost_) return -EIO;
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeoutMs < 0 ? 0 : timeoutMs);
    for (;;) {
        DWORD errors = 0;
        COMSTAT status{};
        if (!calls_->ClearError(handle_, errors, status)) return Lost(calls_->LastError());
        if (status.cbOutQue == 0) return 0;
        if (GetTickCount64() >= deadline) return -ETIMEDOUT;
        Sleep(1);
    }
}

int Win32PortDevice::Purge() {
    if (!IsOpen()) return -EBADF;
    if (lost_) return -EIO;
    if (!calls_->Purge(handle_, PURGE_RXABORT | PURGE_RXCLEAR | PURGE_TXABORT | PURGE_TXCLEAR))
        return Lost(calls_->LastError());
    return 0;
}

int Win32PortDevice::SetModemLine(DWORD on, DWORD off, bool asserted, bool& level) {
    if (!IsOpen()) return -EBADF;
    if (lost_) return -EIO;
    level = asserted;  // kept for the next DCB, so a line setting never undoes it
    if (calls_->Escape(handle_, asserted ? on : off)) return 0;
    const DWORD error = calls_->LastError();
    // A port without modem lines (a pseudo-terminal under Wine) says so; a simulated board
    // on it still needs the request to go through.
    if (error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION) return 0;
    return Lost(error);
}

int Win32PortDevice::SetDtr(bool asserted) {
    return SetModemLine(SETDTR, CLRDTR, asserted, dtr_);
}

int Win32PortDevice::SetRts(bool asserted) {
    return SetModemLine(SETRTS, CLRRTS, asserted, rts_);
}

int Win32PortDevice::WaitReadable(int timeoutMs) {
    if (!IsOpen()) return -EBADF;
    if (lost_) return -EIO;
    // Never longer than one slice of the station's waits, like the POSIX device's poll.
    const int limit = timeoutMs < 0 ? 0 : (timeoutMs > WaitSliceMs ? WaitSliceMs : timeoutMs);
    long waiting = BytesWaiting();
    if (waiting != 0) return waiting > 0 ? 1 : static_cast<int>(waiting);
    if (limit > 0 && !calls_->WaitReceived(handle_, static_cast<DWORD>(limit))) {
        // A failed event wait says nothing of the port (Wine fails one now and then on a
        // pseudo-terminal, whose modem status it cannot read): the queue count below tells
        // a lost port, and the slice is waited out, so a wait that keeps failing never spins.
        Sleep(static_cast<DWORD>(limit));
    }
    // An event says little (it may be for bytes already read): the queue count decides.
    waiting = BytesWaiting();
    return waiting > 0 ? 1 : static_cast<int>(waiting);
}

}  // namespace ps

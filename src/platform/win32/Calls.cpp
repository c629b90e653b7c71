// SPDX-License-Identifier: MIT
// The POSIX calls of include/ps_posix.h on the wide Win32 API. open, rename and mkstemp
// replace the C runtime's: its own open the file without FILE_SHARE_DELETE (so a file that
// is open cannot be renamed or replaced, which the atomic replace of settings, dumps and
// copies needs) and take paths in the ANSI code page, not UTF-8.
#include <poll.h>
#include <sys/file.h>
#include <windows.h>
// After windows.h, which it needs.
#include <timeapi.h>

#include <atomic>
#include <cstdarg>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>

int ps_mkdir(const char* path, int mode);

std::wstring ps_Wide(const char* utf8) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
    if (n <= 0) return {};
    std::wstring w(static_cast<size_t>(n - 1), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8, -1, w.data(), n);
    return w;
}

std::wstring ps_StopEventName(unsigned long processId) {
    return L"Local\\progstation-stop-" + std::to_wstring(processId);
}

std::string ps_Utf8(const wchar_t* wide, int length) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide, length, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string s(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, length, s.data(), n, nullptr, nullptr);
    if (length < 0) s.pop_back();  // the terminating NUL
    return s;
}

namespace {

int ErrnoOf(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_NETPATH:
            return ENOENT;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return EEXIST;
        case ERROR_ACCESS_DENIED:
        case ERROR_WRITE_PROTECT:
            return EACCES;
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return EBUSY;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ENOSPC;
        case ERROR_DIRECTORY:
            return ENOTDIR;
        case ERROR_INVALID_PARAMETER:
            return EINVAL;
        default:
            return EIO;
    }
}

int Fail(DWORD error) {
    errno = ErrnoOf(error);
    return -1;
}

HANDLE HandleOf(int fd) {
    return reinterpret_cast<HANDLE>(_get_osfhandle(fd));
}

// The last part of a path, split at both separators.
const char* LastPart(const char* path) {
    const char* last = path;
    for (const char* p = path; *p != '\0'; ++p)
        if (*p == '/' || *p == '\\' || *p == ':') last = p + 1;
    return last;
}

long long FileTimeTo100ns(const FILETIME& t) {
    return (static_cast<long long>(t.dwHighDateTime) << 32 | t.dwLowDateTime) -
           116444736000000000LL;  // 1601 to 1970
}

timespec TimeOf(const FILETIME& when) {
    const long long units = FileTimeTo100ns(when);
    timespec t{};
    t.tv_sec = static_cast<time_t>(units / 10000000);
    t.tv_nsec = static_cast<long>(units % 10000000) * 100;
    return t;
}

void FillFrom(const BY_HANDLE_FILE_INFORMATION& info, struct ps_stat* st) {
    *st = {};
    const bool folder = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    st->st_mode = folder ? (_S_IFDIR | 0755) : (_S_IFREG | 0644);
    if (!folder && (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY)) st->st_mode &= ~0222u;
    st->st_dev = info.dwVolumeSerialNumber;
    st->st_ino = static_cast<unsigned long long>(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
    st->st_nlink = info.nNumberOfLinks;
    st->st_size = static_cast<long long>(info.nFileSizeHigh) << 32 | info.nFileSizeLow;
    st->st_atim = TimeOf(info.ftLastAccessTime);
    st->st_mtim = TimeOf(info.ftLastWriteTime);
    st->st_ctim = TimeOf(info.ftLastWriteTime);  // Windows keeps no change time
}

int StatHandle(HANDLE h, struct ps_stat* st) {
    switch (GetFileType(h)) {
        case FILE_TYPE_CHAR:
            *st = {};
            st->st_mode = _S_IFCHR | 0666;
            return 0;
        case FILE_TYPE_PIPE:
            *st = {};
            st->st_mode = _S_IFIFO | 0666;
            return 0;
        default:
            break;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(h, &info)) return Fail(GetLastError());
    FillFrom(info, st);
    return 0;
}

// The lock file that stands for a folder opened with O_DIRECTORY: Windows cannot lock a
// folder, and a lock on a file of its own serves those who take turns writing there.
constexpr wchar_t FolderLockName[] = L"\\.progstation.lock";

}  // namespace

bool ps_IsReservedDeviceName(const char* path) {
    static const char* const names[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    std::string base = LastPart(path);
    // Windows drops trailing dots and spaces, and ignores any extension on these names.
    base = base.substr(0, base.find('.'));
    while (!base.empty() && base.back() == ' ') base.pop_back();
    for (char& c : base) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (const char* n : names)
        if (base == n) return true;
    return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
           base[3] >= '1' && base[3] <= '9';
}

int ps_stat(const char* path, struct ps_stat* st) {
    if (ps_IsReservedDeviceName(path)) {
        *st = {};
        st->st_mode = _S_IFCHR | 0666;
        return 0;
    }
    HANDLE h = CreateFileW(ps_Wide(path).c_str(), FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return Fail(GetLastError());
    const int r = StatHandle(h, st);
    CloseHandle(h);
    return r;
}

int ps_fstat(int fd, struct ps_stat* st) {
    HANDLE h = HandleOf(fd);
    if (h == INVALID_HANDLE_VALUE) {
        errno = EBADF;
        return -1;
    }
    return StatHandle(h, st);
}

namespace {

// Folders opened with O_DIRECTORY, and the lock file each one's flock holds. Windows cannot
// lock a folder: its lock is a hidden file in it that exists only while it is held (it is
// deleted when its last holder lets go), so the folder keeps no trace of the writers.
std::mutex folderMutex;
std::map<int, std::wstring> folderPaths;
std::map<int, HANDLE> folderLocks;

int OpenFolder(const std::wstring& name) {
    const DWORD attributes = GetFileAttributesW(name.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return Fail(GetLastError());
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        errno = ENOTDIR;
        return -1;
    }
    HANDLE h = CreateFileW(name.c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return Fail(GetLastError());
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDONLY);
    if (fd < 0) {
        CloseHandle(h);
        errno = EMFILE;
        return -1;
    }
    std::lock_guard<std::mutex> lock(folderMutex);
    folderPaths[fd] = name;
    return fd;
}

bool IsFolder(int fd, std::wstring& path) {
    std::lock_guard<std::mutex> lock(folderMutex);
    auto it = folderPaths.find(fd);
    if (it == folderPaths.end()) return false;
    path = it->second;
    return true;
}

}  // namespace

extern "C" int open(const char* path, int flags, ...) {
    int mode = 0666;
    if (flags & O_CREAT) {
        va_list args;
        va_start(args, flags);
        mode = va_arg(args, int);
        va_end(args);
    }
    if (ps_IsReservedDeviceName(path)) {
        errno = EINVAL;
        return -1;
    }
    std::wstring name = ps_Wide(path);
    if (flags & O_DIRECTORY) return OpenFolder(name);
    DWORD access = 0;
    switch (flags & (O_RDONLY | O_WRONLY | O_RDWR)) {
        case O_WRONLY:
            access = GENERIC_WRITE;
            break;
        case O_RDWR:
            access = GENERIC_READ | GENERIC_WRITE;
            break;
        default:
            access = GENERIC_READ;
    }
    DWORD disposition = OPEN_EXISTING;
    if ((flags & O_CREAT) && (flags & O_EXCL))
        disposition = CREATE_NEW;
    else if ((flags & O_CREAT) && (flags & O_TRUNC))
        disposition = CREATE_ALWAYS;
    else if (flags & O_CREAT)
        disposition = OPEN_ALWAYS;
    else if (flags & O_TRUNC)
        disposition = TRUNCATE_EXISTING;
    const DWORD attributes =
        (flags & O_CREAT) && !(mode & 0222) ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL;
    HANDLE h = CreateFileW(name.c_str(), access,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           disposition, attributes, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        // Opening a folder as a file is "is a directory" on POSIX.
        const DWORD found = GetFileAttributesW(name.c_str());
        if (error == ERROR_ACCESS_DENIED && found != INVALID_FILE_ATTRIBUTES &&
            (found & FILE_ATTRIBUTE_DIRECTORY)) {
            errno = EISDIR;
            return -1;
        }
        return Fail(error);
    }
    const int crtFlags = _O_BINARY | (flags & O_APPEND ? _O_APPEND : 0) |
                         ((flags & (O_WRONLY | O_RDWR)) == O_RDONLY ? _O_RDONLY : 0);
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), crtFlags);
    if (fd < 0) {
        CloseHandle(h);
        errno = EMFILE;
    }
    return fd;
}

namespace {

// Fills the pattern's six X with new characters until make() succeeds or fails for another
// reason than the name being taken; make's result, or -1 with errno.
template <class Make>
int WithUniqueName(char* pattern, Make make) {
    const size_t length = std::strlen(pattern);
    if (length < 6 || std::strcmp(pattern + length - 6, "XXXXXX") != 0) {
        errno = EINVAL;
        return -1;
    }
    static const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 1000; ++attempt) {
        unsigned long long seed = GetTickCount64() * 2654435761ULL ^
                                  (static_cast<unsigned long long>(GetCurrentProcessId()) << 20) ^
                                  counter.fetch_add(1) * 40503ULL;
        for (size_t i = length - 6; i < length; ++i) {
            pattern[i] = letters[seed % 36];
            seed /= 36;
        }
        const int r = make(pattern);
        if (r >= 0 || errno != EEXIST) return r;
    }
    errno = EEXIST;
    return -1;
}

}  // namespace

extern "C" int mkstemp(char* pattern) {
    return WithUniqueName(pattern, [](const char* name) { return open(name, O_RDWR | O_CREAT | O_EXCL, 0600); });
}

extern "C" char* mkdtemp(char* pattern) {
    return WithUniqueName(pattern, [](const char* name) { return ps_mkdir(name, 0700); }) == 0 ? pattern
                                                                                              : nullptr;
}

namespace {

// FileRenameInfoEx (Windows 10 1709), which these headers show only for later targets.
constexpr auto FileRenameInfoExClass = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);

// The rename of POSIX, where Windows 10 has it: the target may be open (with
// FILE_SHARE_DELETE, as this file layer opens everything); readers keep the old content.
bool RenamePosixStyle(const std::wstring& source, const std::wstring& target) {
    HANDLE h = CreateFileW(source.c_str(), DELETE | SYNCHRONIZE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    const size_t bytes = sizeof(FILE_RENAME_INFO) + target.size() * sizeof(wchar_t);
    std::string buffer(bytes, '\0');
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    info->Flags = FILE_RENAME_FLAG_REPLACE_IF_EXISTS | FILE_RENAME_FLAG_POSIX_SEMANTICS;
    info->RootDirectory = nullptr;
    info->FileNameLength = static_cast<DWORD>(target.size() * sizeof(wchar_t));
    std::memcpy(info->FileName, target.c_str(), info->FileNameLength);
    const BOOL ok = SetFileInformationByHandle(h, FileRenameInfoExClass, info, static_cast<DWORD>(bytes));
    const DWORD error = GetLastError();
    CloseHandle(h);
    SetLastError(error);
    return ok != FALSE;
}

}  // namespace

// rename that replaces an existing file, as POSIX's does: with POSIX semantics where the
// system has them; else MoveFileExW, which does it where nobody holds the target open;
// else ReplaceFileW, which also works where someone does.
extern "C" int rename(const char* from, const char* to) {
    const std::wstring source = ps_Wide(from), target = ps_Wide(to);
    if (RenamePosixStyle(source, target)) return 0;
    if (MoveFileExW(source.c_str(), target.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return 0;
    const DWORD error = GetLastError();
    if ((error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION) &&
        ReplaceFileW(target.c_str(), source.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                     nullptr, nullptr))
        return 0;
    return Fail(error);
}

namespace {

int LockHandle(HANDLE h, int operation);

int LockFolder(int fd, const std::wstring& folder, int operation) {
    std::lock_guard<std::mutex> lock(folderMutex);
    auto held = folderLocks.find(fd);
    if (operation & LOCK_UN) {
        if (held != folderLocks.end()) {
            CloseHandle(held->second);
            folderLocks.erase(held);
        }
        return 0;
    }
    if (held != folderLocks.end()) return 0;
    const std::wstring name = folder + FolderLockName;
    for (;;) {
        HANDLE h = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_ALWAYS, FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE,
                               nullptr);
        // Being deleted by its last holder: held a moment longer.
        const bool taken = h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED;
        if (h == INVALID_HANDLE_VALUE && !taken) return Fail(GetLastError());
        if (h != INVALID_HANDLE_VALUE) {
            if (LockHandle(h, operation) == 0) {
                folderLocks[fd] = h;
                return 0;
            }
            const int err = errno;
            CloseHandle(h);
            if (err != EWOULDBLOCK) {
                errno = err;
                return -1;
            }
        }
        if (operation & LOCK_NB) {
            errno = EWOULDBLOCK;
            return -1;
        }
        Sleep(1);
    }
}

}  // namespace

extern "C" int close(int fd) {
    {
        std::lock_guard<std::mutex> lock(folderMutex);
        if (auto held = folderLocks.find(fd); held != folderLocks.end()) {
            CloseHandle(held->second);
            folderLocks.erase(held);
        }
        folderPaths.erase(fd);
    }
    return _close(fd);
}

extern "C" int flock(int fd, int operation) {
    if (std::wstring folder; IsFolder(fd, folder)) return LockFolder(fd, folder, operation);
    return LockHandle(HandleOf(fd), operation);
}

namespace {

int LockHandle(HANDLE h, int operation) {
    if (h == INVALID_HANDLE_VALUE) {
        errno = EBADF;
        return -1;
    }
    // The far byte: a lock there blocks no reads and writes of the file's data.
    OVERLAPPED at{};
    at.Offset = 0xFFFFFFFE;
    at.OffsetHigh = 0x7FFFFFFF;
    if (operation & LOCK_UN) {
        if (UnlockFileEx(h, 0, 1, 0, &at)) return 0;
        return Fail(GetLastError());
    }
    DWORD how = (operation & LOCK_EX) ? LOCKFILE_EXCLUSIVE_LOCK : 0;
    if (operation & LOCK_NB) how |= LOCKFILE_FAIL_IMMEDIATELY;
    if (LockFileEx(h, how, 0, 1, 0, &at)) return 0;
    const DWORD error = GetLastError();
    if (error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING) {
        errno = EWOULDBLOCK;
        return -1;
    }
    return Fail(error);
}

}  // namespace

extern "C" int fsync(int fd) {
    if (std::wstring folder; IsFolder(fd, folder)) return 0;  // a folder has nothing to flush
    HANDLE h = HandleOf(fd);
    if (h == INVALID_HANDLE_VALUE) {
        errno = EBADF;
        return -1;
    }
    if (FlushFileBuffers(h)) return 0;
    return Fail(GetLastError());
}

// Windows has one permission bit: read-only. A file keeps it as it had it.
extern "C" int fchmod(int fd, int mode) {
    HANDLE h = HandleOf(fd);
    FILE_BASIC_INFO info{};
    if (h == INVALID_HANDLE_VALUE ||
        !GetFileInformationByHandleEx(h, FileBasicInfo, &info, sizeof info))
        return 0;
    const DWORD wanted = (mode & 0222) ? (info.FileAttributes & ~FILE_ATTRIBUTE_READONLY)
                                       : (info.FileAttributes | FILE_ATTRIBUTE_READONLY);
    if (wanted == info.FileAttributes) return 0;
    info.FileAttributes = wanted ? wanted : FILE_ATTRIBUTE_NORMAL;
    SetFileInformationByHandle(h, FileBasicInfo, &info, sizeof info);
    return 0;
}

extern "C" int fchown(int, unsigned, unsigned) {
    return 0;  // files belong to whoever made them; nothing to carry over
}

extern "C" int fcntl(int, int cmd, ...) {
    return cmd == F_GETFD ? FD_CLOEXEC : 0;  // handles are never inherited
}

extern "C" ssize_t pwrite(int fd, const void* data, size_t count, long long offset) {
    HANDLE h = HandleOf(fd);
    if (h == INVALID_HANDLE_VALUE) {
        errno = EBADF;
        return -1;
    }
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD written = 0;
    const DWORD chunk = count > 0x40000000 ? 0x40000000 : static_cast<DWORD>(count);
    if (!WriteFile(h, data, chunk, &written, &at)) return Fail(GetLastError());
    return static_cast<ssize_t>(written);
}

// The running program's path, for the one link the shared code reads: /proc/self/exe.
// Given with forward slashes, so that it splits like a POSIX path.
extern "C" ssize_t readlink(const char* path, char* buffer, size_t size) {
    if (std::strcmp(path, "/proc/self/exe") != 0) {
        errno = EINVAL;
        return -1;
    }
    std::wstring module(32768, L'\0');
    const DWORD n = GetModuleFileNameW(nullptr, module.data(), static_cast<DWORD>(module.size()));
    if (n == 0 || n >= module.size()) return Fail(GetLastError());
    std::string p = ps_Utf8(module.c_str(), static_cast<int>(n));
    for (char& c : p)
        if (c == '\\') c = '/';
    const size_t copied = p.size() < size ? p.size() : size;
    std::memcpy(buffer, p.data(), copied);
    return static_cast<ssize_t>(copied);
}

extern "C" char* realpath(const char* path, char* resolved) {
    struct ps_stat st {};
    if (ps_stat(path, &st) != 0) return nullptr;
    wchar_t full[32768];
    const DWORD n = GetFullPathNameW(ps_Wide(path).c_str(), 32768, full, nullptr);
    if (n == 0 || n >= 32768) {
        Fail(GetLastError());
        return nullptr;
    }
    const std::string p = ps_Utf8(full);
    if (p.size() >= 4096) {
        errno = ENAMETOOLONG;
        return nullptr;
    }
    char* out = resolved ? resolved : static_cast<char*>(std::malloc(4096));
    std::memcpy(out, p.c_str(), p.size() + 1);
    return out;
}

int ps_mkdir(const char* path, int) {
    if (CreateDirectoryW(ps_Wide(path).c_str(), nullptr)) return 0;
    return Fail(GetLastError());
}

int ps_gethostname(char* name, size_t size) {
    wchar_t host[256];
    DWORD n = 256;
    if (!GetComputerNameExW(ComputerNameDnsHostname, host, &n)) return Fail(GetLastError());
    const std::string s = ps_Utf8(host, static_cast<int>(n));
    if (s.size() >= size) {
        errno = ENAMETOOLONG;
        return -1;
    }
    std::memcpy(name, s.c_str(), s.size() + 1);
    return 0;
}

int ps_clock_nanosleep(clockid_t clock, int flags, const struct timespec* request,
                       struct timespec*) {
    auto ns = [](const timespec& t) { return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec; };
    timespec now{};
    if (clock_gettime(clock, &now) != 0) return errno;
    const long long end = (flags & TIMER_ABSTIME) ? ns(*request) : ns(now) + ns(*request);
    for (;;) {
        const long long left = end - ns(now);
        if (left <= 0) return 0;
        Sleep(static_cast<DWORD>((left + 999999) / 1000000));
        if (clock_gettime(clock, &now) != 0) return errno;
    }
}

int ps_kill(int pid, int) {
    HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, static_cast<DWORD>(pid));
    if (process == nullptr) return Fail(GetLastError());
    const BOOL ok = TerminateProcess(process, 128 + SIGINT);
    CloseHandle(process);
    return ok ? 0 : Fail(GetLastError());
}

#undef strftime
size_t ps_strftime(char* out, size_t size, const char* format, const std::tm* time) {
    std::string expanded;
    for (const char* p = format; *p != '\0'; ++p) {
        if (p[0] == '%' && p[1] == 'z') {
            // The offset from UTC of this local time: the time as UTC, less the moment.
            std::tm local = *time;
            const std::time_t moment = std::mktime(&local);
            const long long offset = static_cast<long long>(_mkgmtime(&local)) - moment;
            const long long minutes = (offset < 0 ? -offset : offset) / 60;
            char text[8];
            std::snprintf(text, sizeof text, "%c%02lld%02lld", offset < 0 ? '-' : '+',
                          minutes / 60, minutes % 60);
            expanded += text;
            ++p;
        } else {
            expanded += *p;
            if (p[0] == '%' && p[1] != '\0') expanded += *++p;
        }
    }
    return std::strftime(out, size, expanded.c_str(), time);
}

int poll(pollfd* fds, nfds_t count, int timeoutMs) {
    // A negative limit waits until something is ready, as POSIX's does.
    const ULONGLONG deadline =
        timeoutMs < 0 ? ~0ULL : GetTickCount64() + static_cast<ULONGLONG>(timeoutMs);
    for (;;) {
        int ready = 0;
        for (nfds_t i = 0; i < count; ++i) {
            pollfd& p = fds[i];
            p.revents = 0;
            HANDLE h = HandleOf(p.fd);
            if (h == INVALID_HANDLE_VALUE) {
                p.revents = POLLNVAL;
            } else if (GetFileType(h) == FILE_TYPE_PIPE) {
                DWORD waiting = 0;
                if (!PeekNamedPipe(h, nullptr, 0, nullptr, &waiting, nullptr))
                    p.revents = POLLHUP;  // the writer has gone: read gives the end
                else if (waiting > 0)
                    p.revents = POLLIN;
            } else if (GetFileType(h) == FILE_TYPE_CHAR) {
                // A console: readable once a whole line is typed (read returns lines).
                DWORD events = 0;
                GetNumberOfConsoleInputEvents(h, &events);
                INPUT_RECORD records[64];
                DWORD got = 0;
                if (events > 0 && PeekConsoleInputW(h, records, 64, &got)) {
                    for (DWORD k = 0; k < got; ++k)
                        if (records[k].EventType == KEY_EVENT && records[k].Event.KeyEvent.bKeyDown &&
                            records[k].Event.KeyEvent.uChar.UnicodeChar == L'\r')
                            p.revents = POLLIN;
                } else if (events == 0 && GetLastError() == ERROR_INVALID_HANDLE) {
                    p.revents = POLLIN;  // NUL and other character devices read at once
                }
            } else {
                p.revents = POLLIN;  // files are always readable
            }
            if (p.revents != 0) ++ready;
        }
        if (ready > 0 || GetTickCount64() >= deadline) return ready;
        Sleep(1);
    }
}

namespace {

std::atomic<void (*)(int)> consoleStop{nullptr};

BOOL WINAPI OnConsoleControl(DWORD event) {
    void (*handler)(int) = consoleStop.load();
    if (handler == nullptr) return FALSE;
    handler(SIGINT);
    // The console window closing or a log-off ends the process once this returns: leave
    // the run its moment to stop the board and close the port.
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT)
        Sleep(2000);
    return TRUE;
}

}  // namespace

namespace {

// A run of a gang: its STOP comes as an event the gang made for this process before it
// let it start (a run has no console, so no Ctrl-C reaches it). Each time the event is
// set is one STOP, as each Ctrl-C is.
void WatchStopEvent() {
    HANDLE event = OpenEventW(SYNCHRONIZE, FALSE, ps_StopEventName(GetCurrentProcessId()).c_str());
    if (event == nullptr) return;
    std::thread([event] {
        while (WaitForSingleObject(event, INFINITE) == WAIT_OBJECT_0)
            if (void (*handler)(int) = consoleStop.load()) handler(SIGINT);
    }).detach();
}

}  // namespace

int sigaction(int sig, const struct sigaction* action, struct sigaction* old) {
    if (sig != SIGINT && sig != SIGTERM) {
        // The C runtime ends the program on a signal number it does not know (SIGHUP).
        if (action && sig != SIGHUP && sig != SIGPIPE && sig != SIGKILL)
            std::signal(sig, action->sa_handler);
        return 0;
    }
    if (old) *old = {};
    if (action == nullptr) return 0;
    const bool custom = action->sa_handler != SIG_DFL && action->sa_handler != SIG_IGN;
    static std::once_flag installed;
    if (custom) {
        consoleStop.store(action->sa_handler);
        std::call_once(installed, [] {
            SetConsoleCtrlHandler(OnConsoleControl, TRUE);
            WatchStopEvent();
        });
    } else if (sig == SIGINT) {
        consoleStop.store(nullptr);
    }
    return 0;
}

namespace {

// Standard output and error in binary mode, so a status line ends in "\n" as on Linux and
// a trace or a pipe reader sees the same bytes; the console shows UTF-8.
struct ConsoleSetup {
    ConsoleSetup() {
        _setmode(_fileno(stdout), _O_BINARY);
        _setmode(_fileno(stderr), _O_BINARY);
        SetConsoleOutputCP(CP_UTF8);
        // The gang's live lines move the cursor and runs mark errors red: a console of
        // Windows 10 or later reads those sequences once asked to.
        // Sleeps and timed waits in 1 ms steps, not the system's default 15.6 ms: a flow's
        // pauses of a few milliseconds would otherwise last three times as long.
        timeBeginPeriod(1);
        HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
        DWORD mode = 0;
        if (GetConsoleMode(out, &mode))
            SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    }
} consoleSetup;

}  // namespace

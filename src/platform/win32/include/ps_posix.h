// SPDX-License-Identifier: MIT
// Included ahead of every source of the Windows build. The shared code is written against
// POSIX; these are the few calls and names the MinGW-w64 C runtime lacks, or has in a form
// that behaves differently (a rename that cannot replace, stat without sub-second times,
// narrow paths in the ANSI code page). The calls are in ../Calls.cpp, on the wide Win32 API,
// so paths are UTF-8 throughout.
#pragma once

#ifndef _POSIX_THREAD_SAFE_FUNCTIONS
#define _POSIX_THREAD_SAFE_FUNCTIONS 200112L  // localtime_r, gmtime_r
#endif

#ifdef __cplusplus
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <csignal>
#include <cerrno>
#include <string>
#endif
#include <direct.h>
#include <errno.h>
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>
#include <pthread_time.h>
#include <unistd.h>
#include <wchar.h>

#ifdef __cplusplus

// Open flags POSIX has and Windows does not need: every handle is opened without
// inheritance, never blocks on a regular file, and has no links to follow.
#ifndef O_CLOEXEC
#define O_CLOEXEC 0
#endif
#ifndef O_NONBLOCK
#define O_NONBLOCK 0
#endif
#ifndef O_NOFOLLOW
#define O_NOFOLLOW 0
#endif
#ifndef O_NOCTTY
#define O_NOCTTY 0
#endif
// A folder opened with this flag is its lock file (see open in Calls.cpp).
#ifndef O_DIRECTORY
#define O_DIRECTORY 0x01000000
#endif

#define F_GETFD 1
#define F_SETFD 2
#define FD_CLOEXEC 1

#ifndef ESHUTDOWN
#define ESHUTDOWN 158
#endif
#ifndef SIGPIPE
#define SIGPIPE 13  // never raised on Windows; ignoring it is a no-op
#endif
#ifndef SIGHUP
#define SIGHUP 1  // no hang-up signal on Windows: console close comes as a console event
#endif
#ifndef SIGKILL
#define SIGKILL 9
#endif
#ifndef S_ISLNK
#define S_ISLNK(m) 0
#endif
#ifndef S_IFLNK
#define S_IFLNK 0
#endif

// stat with the fields the shared code compares: times to 100 ns, the file index as the
// inode. Reserved device names (NUL, COM1, CON, ... with any extension) read as character
// devices, so every regular-file check refuses them.
typedef unsigned uid_t;
typedef unsigned gid_t;

// A struct and a function of one name, as POSIX has them, so "struct stat st; stat(p, &st)"
// reads the same here.
struct ps_stat {
    unsigned long long st_dev;
    unsigned long long st_ino;
    unsigned st_mode;
    unsigned st_nlink;
    unsigned st_uid;
    unsigned st_gid;
    unsigned long long st_rdev;
    long long st_size;
    timespec st_atim;
    timespec st_mtim;
    timespec st_ctim;
};
int ps_stat(const char* path, struct ps_stat* st);
int ps_fstat(int fd, struct ps_stat* st);
#define stat ps_stat
#define fstat ps_fstat
#define lstat ps_stat

// True for NUL, CON, PRN, AUX, COM1-9 and LPT1-9 as the last part of a path, with or
// without an extension: Windows opens the device, not a file, by such a name.
bool ps_IsReservedDeviceName(const char* path);

extern "C" {
int flock(int fd, int operation);
int fsync(int fd);
// The terminal station's signal pipe: Windows has no signals to write it, and its poll
// cannot wait on a pipe without polling, so the idle station pumps in slices there.
inline int pipe2(int*, int) {
    errno = ENOSYS;
    return -1;
}
int fchmod(int fd, int mode);
int fchown(int fd, unsigned uid, unsigned gid);
int fcntl(int fd, int cmd, ...);
ssize_t pwrite(int fd, const void* data, size_t count, long long offset);
ssize_t readlink(const char* path, char* buffer, size_t size);
char* realpath(const char* path, char* resolved);
char* mkdtemp(char* pattern);
}
inline unsigned geteuid() { return 0; }
inline unsigned getuid() { return 0; }
inline unsigned getegid() { return 0; }

inline int setenv(const char* name, const char* value, int overwrite) {
    if (!overwrite && std::getenv(name) != nullptr) return 0;
    return _putenv_s(name, value);
}
inline int unsetenv(const char* name) {
    return _putenv_s(name, "");
}

int ps_mkdir(const char* path, int mode);
#define mkdir(path, mode) ps_mkdir(path, mode)

int ps_gethostname(char* name, size_t size);
#define gethostname ps_gethostname

// UTF-8 to the wide strings of the Win32 calls and back (`length` -1: up to the NUL).
std::wstring ps_Wide(const char* utf8);
std::string ps_Utf8(const wchar_t* wide, int length = -1);

// The event a gang sets to STOP its run with this process id: sigaction(SIGINT) watches it
// when it exists, and calls the handler for each time it is set, as for a Ctrl-C.
std::wstring ps_StopEventName(unsigned long processId);

// clock_nanosleep for the monotonic clock too: the POSIX threads library's takes only
// CLOCK_REALTIME and fails at once for any other, which would make every wait of the
// station a busy loop. Sleeps in whole milliseconds, never less than asked.
int ps_clock_nanosleep(clockid_t clock, int flags, const struct timespec* request,
                       struct timespec* remain);
#define clock_nanosleep ps_clock_nanosleep

int ps_kill(int pid, int sig);
#define kill ps_kill

// strftime whose %z is the offset (+0100), as POSIX writes it; the C runtime writes the
// zone's name there.
size_t ps_strftime(char* out, size_t size, const char* format, const std::tm* time);
#define strftime ps_strftime
namespace std {
using ::ps_strftime;
}

// sigaction for SIGINT and SIGTERM on a console control handler: Ctrl-C, Ctrl-Break, and
// the console window closing or the user logging off each call the SIGINT handler (in a
// thread of the system's, as a signal would interrupt), and so does the gang's STOP event
// (ps_StopEventName). Other signals go to signal().
struct ps_sigset {
    int unused;
};
struct sigaction {
    void (*sa_handler)(int);
    ps_sigset sa_mask;
    int sa_flags;
};
inline int sigemptyset(ps_sigset*) { return 0; }
int sigaction(int sig, const struct sigaction* action, struct sigaction* old);

#endif  // __cplusplus

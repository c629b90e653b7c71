// SPDX-License-Identifier: MIT
// poll for what the terminal station waits on under Windows: its standard input, a console,
// a pipe or a file (Calls.cpp). Only POLLIN is ever asked for.
#pragma once
#define POLLIN 0x001
#define POLLPRI 0x002
#define POLLOUT 0x004
#define POLLERR 0x008
#define POLLHUP 0x010
#define POLLNVAL 0x020
struct pollfd {
    int fd;
    short events;
    short revents;
};
typedef unsigned long nfds_t;
int poll(pollfd* fds, nfds_t count, int timeoutMs);

#include <time.h>
// ppoll with a relative limit in whole milliseconds (rounded up), no signal mask; a null
// limit waits as long as poll's negative limit does.
inline int ppoll(pollfd* fds, nfds_t count, const timespec* limit, const void*) {
    const long long ms =
        limit ? limit->tv_sec * 1000LL + (limit->tv_nsec + 999999) / 1000000 : -1;
    return poll(fds, count, static_cast<int>(ms > 0x7fffffff ? 0x7fffffff : ms));
}

// SPDX-License-Identifier: MIT
// Reading a terminal's rate needs the kernel's termios2 on Linux, whose header cannot be
// mixed with <termios.h>; so this file includes nothing else.
#include <cstdint>

#ifdef __linux__
#include <asm/termbits.h>
#include <sys/ioctl.h>
#endif

namespace ps::sim {

uint32_t TerminalBaud(int fd) {
#ifdef __linux__
    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) != 0) return 0;
    return t.c_ospeed;
#else
    (void)fd;
    return 0;
#endif
}

}  // namespace ps::sim

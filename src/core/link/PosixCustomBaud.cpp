// SPDX-License-Identifier: MIT
// Only the kernel's own termios definitions here: <asm/termbits.h> and <termios.h> define
// the same names differently and cannot meet in one file.
#include <asm/ioctls.h>
#include <asm/termbits.h>

#include <cerrno>

#include "link/PosixPortDevice.h"  // names struct termios without defining it

namespace ps {

int SetCustomBaud(TtyCalls& tty, int fd, unsigned baud) {
    struct termios2 tio {};
    if (tty.Ioctl(fd, TCGETS2, &tio) != 0) return -errno;
    tio.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    tio.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    tio.c_ispeed = baud;
    tio.c_ospeed = baud;
    if (tty.Ioctl(fd, TCSETS2, &tio) != 0) return -errno;
    // A driver that cannot make the rate picks the nearest it can; a rate far off would
    // garble every byte, so it counts as refused.
    struct termios2 check {};
    if (tty.Ioctl(fd, TCGETS2, &check) != 0) return -errno;
    unsigned got = check.c_ospeed;
    unsigned diff = got > baud ? got - baud : baud - got;
    if (diff * 100 > baud * 3) return -EINVAL;
    return 0;
}

unsigned GetLineBaud(TtyCalls& tty, int fd) {
    struct termios2 tio {};
    if (tty.Ioctl(fd, TCGETS2, &tio) != 0) return 0;
    return tio.c_ospeed;
}

}  // namespace ps

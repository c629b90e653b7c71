// SPDX-License-Identifier: MIT
#pragma once
// The terminal driver of a real serial port, as far as a pseudo-terminal cannot play it.
#include <sys/ioctl.h>
#include <termios.h>

#include <cerrno>
#include <string>
#include <vector>

#include "link/PosixPortDevice.h"

namespace ps::test {

// Every call goes to the real (pseudo-)terminal, except the modem-line requests: a
// pseudo-terminal refuses them, so the lines are kept here as a UART's driver keeps them.
// Each settings write is kept too, since a pseudo-terminal drops parity enable and the
// data-bit count (it keeps the odd, mark/space and stop-bit flags, flow control and rate).
class FakeTty : public TtyCalls {
public:
    bool Dtr = false;
    bool Rts = false;
    // One entry per line a request touched, with the level it left: "DTR 1", "RTS 0".
    std::vector<std::string> Lines;
    std::vector<termios> Written;  // every settings write, in order
    int Fd = -1;                   // the descriptor of the last call

    int Ioctl(int fd, unsigned long request, void* arg) override {
        Fd = fd;
        int* bits = static_cast<int*>(arg);
        switch (request) {
            case TIOCMBIS:
                Change(*bits, true);
                return 0;
            case TIOCMBIC:
                Change(*bits, false);
                return 0;
            case TIOCMSET:
                Change(*bits, true);
                Change(~*bits & (TIOCM_DTR | TIOCM_RTS), false);
                return 0;
            case TIOCMGET:
                *bits = (Dtr ? TIOCM_DTR : 0) | (Rts ? TIOCM_RTS : 0);
                return 0;
            default:
                return TtyCalls::Ioctl(fd, request, arg);
        }
    }
    int SetAttributes(int fd, const termios& tio) override {
        Fd = fd;
        Written.push_back(tio);
        if (TtyCalls::SetAttributes(fd, tio) == 0) return 0;
        // A pseudo-terminal takes the write but forces 8 data bits without parity, and the C
        // library, reading that back, reports EINVAL. The rest is in place; a UART would
        // have kept those two as well.
        const int err = errno;
        const tcflag_t dropped = PARENB | CSIZE;
        const termios now = ReadBack();
        if (err == EINVAL && (now.c_cflag & ~dropped) == (tio.c_cflag & ~dropped)) return 0;
        errno = err;
        return -1;
    }

    // What the terminal itself holds now.
    termios ReadBack() {
        termios tio{};
        TtyCalls::GetAttributes(Fd, tio);
        return tio;
    }

private:
    void Change(int bits, bool asserted) {
        if (bits & TIOCM_DTR) {
            Dtr = asserted;
            Lines.push_back(asserted ? "DTR 1" : "DTR 0");
        }
        if (bits & TIOCM_RTS) {
            Rts = asserted;
            Lines.push_back(asserted ? "RTS 1" : "RTS 0");
        }
    }
};

}  // namespace ps::test

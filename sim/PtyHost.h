// SPDX-License-Identifier: MIT
#pragma once
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "link/Clock.h"
#include "sim/Board.h"
#include "sim/Wire.h"

namespace ps::sim {

// Runs a board on a pseudo-terminal, for a station (or anything else) that opens the
// slave side as its serial port. The bytes the station writes cross a modelled line (the
// Wire, under the real clock) to the board, and its answers are written back at their
// times, paced at the rate the station set on the slave. A pseudo-terminal has no DTR or
// RTS, so the board never sees its control lines change.
//
// The host keeps a descriptor of the slave open itself: without it, the station closing
// the port between steps would leave the master in a permanent hang-up.
class PtyHost {
public:
    // log may be nullptr (no log); it is not closed by the host.
    PtyHost(std::unique_ptr<Board> board, std::FILE* log);
    ~PtyHost();
    PtyHost(const PtyHost&) = delete;
    PtyHost& operator=(const PtyHost&) = delete;

    // Makes the pseudo-terminal; false with a reason in error.
    bool Open(std::string& error);
    // The path the station opens ("/dev/pts/3").
    const std::string& SlavePath() const { return slavePath_; }

    // Serves the board until stop becomes true or the board drops off the line (the
    // pseudo-terminal is then closed, so the station sees its port vanish). Checks stop
    // at least every PollSliceMs; a signal handler that sets it also cuts the wait short.
    void Run(const std::atomic<bool>& stop);
    // One pass: waits at most timeoutMs for the station's bytes or the next answer.
    void Poll(int timeoutMs);

    // True once the board has dropped off the line and the pseudo-terminal is closed.
    bool Gone() const { return masterFd_ < 0 && opened_; }
    Board& board() { return wire_->board(); }

    static constexpr int PollSliceMs = 100;

private:
    void Log(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void LogBytes(const char* tag, const uint8_t* data, size_t count);
    void CheckBaud();
    void ReadStation();
    void WriteAnswers();
    void Vanish();

    RealClock clock_;
    std::FILE* log_;
    std::shared_ptr<Wire> wire_;
    int masterFd_ = -1;
    int slaveFd_ = -1;  // held open so the master never sees a hang-up
    bool opened_ = false;
    std::string slavePath_;
    uint32_t baud_ = 0;
    std::vector<uint8_t> outbox_;  // answers due but not yet taken by the master
    std::string lastDescription_;
    int64_t lastActivityMs_ = -1;
};

// The output rate of a terminal, custom rates included; 0 when it cannot be read.
uint32_t TerminalBaud(int fd);

}  // namespace ps::sim

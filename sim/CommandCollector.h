// SPDX-License-Identifier: MIT
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace ps::sim {

// Collects the argument bytes of a board's current command: Start names the command and
// how many bytes it needs; Take adds one and says when the command is complete. A command
// whose bytes stop coming for longer than AbandonedMs (a station stopped in the middle) is
// forgotten, so the next run starts clean.
class CommandCollector {
public:
    static constexpr int64_t AbandonedMs = 1000;

    bool Busy() const { return need_ > 0; }
    int Command() const { return command_; }
    const std::vector<uint8_t>& Args() const { return args_; }

    void Start(int command, size_t need) {
        command_ = command;
        need_ = need;
        args_.clear();
    }
    // Asks for more bytes of the same command (a frame whose length came in its header).
    void More(size_t need) { need_ = need; }
    bool Take(uint8_t b) {
        args_.push_back(b);
        return --need_ == 0;
    }
    void Forget() {
        need_ = 0;
        args_.clear();
    }
    // Called with the board's time for every byte before it is taken.
    void ForgetIfAbandoned(int64_t nowMs, int64_t lateMs) {
        if (Busy() && nowMs - lastMs_ > AbandonedMs + lateMs) Forget();
        lastMs_ = nowMs;
    }

private:
    int command_ = 0;
    size_t need_ = 0;
    std::vector<uint8_t> args_;
    int64_t lastMs_ = 0;
};

// What a board's memory holds before the station writes it: an old program, so a byte the
// station forgot shows.
inline std::vector<uint8_t> OldProgram(size_t size) {
    std::vector<uint8_t> memory(size);
    for (size_t i = 0; i < size; ++i) memory[i] = static_cast<uint8_t>(i * 7 + 0x35);
    return memory;
}

}  // namespace ps::sim

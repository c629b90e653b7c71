// SPDX-License-Identifier: MIT
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "sim/Board.h"

namespace ps::sim {

// A board whose protocol is command bytes, each followed by a known number of bytes. The
// board sees a command byte in Command and asks for the bytes that follow with Collect; once
// they have all come, Collected gets them (and may Collect again for a second part). A
// command whose bytes stop coming for longer than a second (a station stopped in the middle)
// is forgotten, and so is one under way when the port is opened, so the next run starts clean.
class CommandBoard : public Board {
public:
    void OnByte(uint8_t b) final;
    void OnOpen() override { Forget(); }

protected:
    virtual void Command(uint8_t b) = 0;
    virtual void Collected(const std::vector<uint8_t>& bytes) = 0;
    // Called when a command under way is given up.
    virtual void Abandoned() {}
    void Collect(size_t count);
    bool Collecting() const { return need_ > 0; }
    void Forget();

private:
    size_t need_ = 0;
    std::vector<uint8_t> args_;
    int64_t lastByteMs_ = 0;
};

}  // namespace ps::sim

// SPDX-License-Identifier: MIT
#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "sim/Board.h"
#include "sim/Boards.h"

namespace ps::sim {

// The boot ROM of a 91360 target. Asleep after a reset (any change of the control lines,
// or the port opened), it answers the first "V" with "F"; from then on it takes commands,
// each opened by 0x01 (answered 0xF1):
//   0x03 (answered 0x83), then a run frame: address (4 bytes) and length (2 bytes), both low
//        byte first, and the bytes, which go to memory; answered by the 16-bit sum of the
//        bytes, low byte first;
//   0x04 (answered 0x84), then the start address (4 bytes, low byte first): the loaded
//        program runs, and the ROM hears nothing more until the next reset.
// Memory keeps what was loaded across resets, so a test compares it with the image.
class Boot91360Board : public Board {
public:
    struct Options {
        std::set<uint8_t> Refuse;  // commands (0x01, 0x03, 0x04) answered with Refusal
        // Awake, answer every further "V" with "F" too, as some ROMs do ("every-v").
        bool AnswerEveryWakeUp = false;
    };
    struct Frame {
        uint32_t Address;
        int Length;
    };
    static constexpr uint8_t Refusal = 0x15;

    explicit Boot91360Board(const Options& options) : options_(options) {}
    std::string Kind() const override { return "91360-boot"; }
    std::vector<MemoryRegion> MemoryRegions() const override {
        return SparseRegions("memory", memory_);
    }
    std::string Describe() const override;
    void OnByte(uint8_t b) override;
    void OnOpen() override { Reset(); }
    void OnLines(bool, bool) override { Reset(); }

    // What a test looks at after a run.
    const std::map<uint32_t, uint8_t>& Memory() const { return memory_; }
    const std::vector<Frame>& Frames() const { return frames_; }
    int WakeUps() const { return wakeUps_; }
    bool Started() const { return started_; }
    uint32_t StartedAt() const { return startedAt_; }
    int Starts() const { return starts_; }  // start addresses received, over all resets

private:
    enum class State { Asleep, Command, Opened, FrameHeader, FrameData, StartAddress, Running };
    void Reset();
    void Answer(uint8_t command, uint8_t answer, State next);
    void FinishFrame();

    Options options_;
    State state_ = State::Asleep;
    std::vector<uint8_t> collected_;
    uint32_t address_ = 0;
    int length_ = 0;
    std::map<uint32_t, uint8_t> memory_;
    std::vector<Frame> frames_;
    int wakeUps_ = 0;
    bool started_ = false;
    uint32_t startedAt_ = 0;
    int starts_ = 0;
};

// Makes the board from its options (after "91360-boot,"): refuse=01, refuse=03, refuse=04
// (any of them, repeated), every-v; the "negative" fault refuses 0x01.
std::unique_ptr<Board> MakeBoot91360Board(const BoardOptions& options, std::string& error);

}  // namespace ps::sim

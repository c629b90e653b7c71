// SPDX-License-Identifier: MIT
#include "sim/Boot91360Board.h"

namespace ps::sim {

namespace {
constexpr uint8_t WakeUp = 0x56;        // 'V'
constexpr uint8_t WakeUpAnswer = 0x46;  // 'F'
constexpr uint8_t Attention = 0x01;
constexpr uint8_t AttentionAnswer = 0xF1;
constexpr uint8_t LoadRun = 0x03;
constexpr uint8_t LoadRunAnswer = 0x83;
constexpr uint8_t Start = 0x04;
constexpr uint8_t StartAnswer = 0x84;
constexpr size_t FrameHeaderBytes = 6;
constexpr size_t AddressBytes = 4;

uint32_t LittleEndian(const std::vector<uint8_t>& bytes, size_t first, size_t count) {
    uint32_t value = 0;
    for (size_t i = count; i-- > 0;) value = value << 8 | bytes[first + i];
    return value;
}
}  // namespace

std::unique_ptr<Board> MakeBoot91360Board(const BoardOptions& options, std::string& error) {
    Boot91360Board::Options parsed;
    for (const BoardOption& o : options) {
        long n = 0;
        if (o.Key == "refuse" && OptionNumber(o, 1, 4, n, error) && n != 2) {
            parsed.Refuse.insert(static_cast<uint8_t>(n));
        } else if (o.Key == "every-v" && !o.HasValue) {
            parsed.AnswerEveryWakeUp = true;
        } else {
            error = o.Key == "refuse"
                        ? "option \"refuse\" takes 01, 03 or 04: \"refuse=" + o.Value + "\""
                        : UnknownOptionError("91360-boot", o);
            return nullptr;
        }
    }
    return std::make_unique<Boot91360Board>(parsed);
}

std::string Boot91360Board::Describe() const {
    std::string text = "91360-boot";
    for (uint8_t c : options_.Refuse) text += ", refuse=0" + std::to_string(c);
    if (options_.AnswerEveryWakeUp) text += ", every-v";
    return text + DescribeFaults(faults);
}

void Boot91360Board::Reset() {
    state_ = State::Asleep;
    collected_.clear();
}

// A command's answer, or the refusal (after which the ROM waits for a new command).
void Boot91360Board::Answer(uint8_t command, uint8_t answer, State next) {
    const bool refuse =
        options_.Refuse.count(command) > 0 || (command == Attention && faults.Negative);
    Send(refuse ? Refusal : answer);
    state_ = refuse ? State::Command : next;
}

// The frame is complete: its bytes go to memory, and their sum goes back.
void Boot91360Board::FinishFrame() {
    uint16_t sum = 0;
    for (size_t i = 0; i < collected_.size(); ++i) {
        memory_[address_ + static_cast<uint32_t>(i)] = collected_[i];
        sum = static_cast<uint16_t>(sum + collected_[i]);
    }
    frames_.push_back({address_, length_});
    Send(std::vector<uint8_t>{static_cast<uint8_t>(sum & 0xFF), static_cast<uint8_t>(sum >> 8)});
    collected_.clear();
    state_ = State::Command;
}

void Boot91360Board::OnByte(uint8_t b) {
    switch (state_) {
        case State::Asleep:
            // Later "V"s, sent before the station saw the "F", fall on deaf ears below.
            if (b == WakeUp) {
                ++wakeUps_;
                Send(WakeUpAnswer);
                state_ = State::Command;
            }
            break;
        case State::Command:
            if (b == Attention) Answer(Attention, AttentionAnswer, State::Opened);
            if (b == WakeUp && options_.AnswerEveryWakeUp) {
                ++wakeUps_;
                Send(WakeUpAnswer);
            }
            break;
        case State::Opened:
            if (b == LoadRun) {
                Answer(LoadRun, LoadRunAnswer, State::FrameHeader);
            } else if (b == Start) {
                Answer(Start, StartAnswer, State::StartAddress);
            } else if (b == Attention) {
                Answer(Attention, AttentionAnswer, State::Opened);
            } else {
                state_ = State::Command;
            }
            collected_.clear();
            break;
        case State::FrameHeader:
            collected_.push_back(b);
            if (collected_.size() < FrameHeaderBytes) break;
            address_ = LittleEndian(collected_, 0, AddressBytes);
            length_ = static_cast<int>(LittleEndian(collected_, AddressBytes, 2));
            collected_.clear();
            state_ = State::FrameData;
            if (length_ == 0) FinishFrame();
            break;
        case State::FrameData:
            collected_.push_back(b);
            if (static_cast<int>(collected_.size()) == length_) FinishFrame();
            break;
        case State::StartAddress:
            collected_.push_back(b);
            if (collected_.size() < AddressBytes) break;
            startedAt_ = LittleEndian(collected_, 0, AddressBytes);
            started_ = true;
            ++starts_;
            state_ = State::Running;
            break;
        case State::Running:
            break;  // the loaded program has the line now
    }
}

}  // namespace ps::sim

// SPDX-License-Identifier: MIT
#include "sim/SharcHostBootBoard.h"

#include <algorithm>

namespace ps::sim {

namespace {

constexpr uint8_t CmdFind = 'A';  // -> 'a'
constexpr uint8_t Found = 'a';
constexpr const char* UnlockText = "KBoTaps";
constexpr size_t UnlockLength = 7;
constexpr uint8_t UnlockYes = 'O';
constexpr uint8_t UnlockNo = 'E';
constexpr uint8_t CmdStream = 'B';
constexpr uint8_t StreamEscape = 0xFF;  // + the byte inverted
constexpr uint8_t StreamEnd = 0xFE;
constexpr uint8_t Xoff = 0x13;
constexpr uint8_t Xon = 0x11;

}  // namespace

SharcHostBootBoard::SharcHostBootBoard(const Options& options) : options_(options) {
    StationQueueBytes = options_.Queue;
}

std::unique_ptr<Board> MakeSharcHostBootBoard(const BoardOptions& options, std::string& error) {
    SharcHostBootBoard::Options parsed;
    for (const BoardOption& o : options) {
        long n = 0;
        int* target = o.Key == "rate"     ? &parsed.Rate
                      : o.Key == "xoff"   ? &parsed.XoffLevel
                      : o.Key == "xon"    ? &parsed.XonLevel
                      : o.Key == "buffer" ? &parsed.Capacity
                      : o.Key == "queue"  ? &parsed.Queue
                                          : nullptr;
        if (target) {
            if (!OptionNumber(o, o.Key == "rate" || o.Key == "xon" ? 0 : 1, 10000000, n, error))
                return nullptr;
            *target = static_cast<int>(n);
        } else if (o.Key == "noxon" && !o.HasValue) {
            parsed.NoXon = true;
        } else {
            error = UnknownOptionError("sharchost", o);
            return nullptr;
        }
    }
    if (parsed.XonLevel >= parsed.XoffLevel || parsed.XoffLevel > parsed.Capacity) {
        error = "board \"sharchost\" needs xon < xoff <= buffer";
        return nullptr;
    }
    return std::make_unique<SharcHostBootBoard>(parsed);
}

std::string SharcHostBootBoard::Describe() const {
    std::string text = "sharchost rate=" + std::to_string(options_.Rate) +
                       " xoff=" + std::to_string(options_.XoffLevel) +
                       " xon=" + std::to_string(options_.XonLevel);
    if (options_.NoXon) text += " noxon";
    return text + DescribeFaults(faults);
}

void SharcHostBootBoard::OnOpen() {
    unlocked_ = false;
    streaming_ = false;
    unlockAt_ = 0;
}

void SharcHostBootBoard::Drain(int64_t nowMs) {
    if (options_.Rate <= 0) {
        fill_ = 0;
    } else {
        fill_ =
            std::max(0.0, fill_ - static_cast<double>(options_.Rate) * (nowMs - lastMs_) / 1000);
    }
    lastMs_ = nowMs;
    if (held_ && nowMs >= xonAtMs_) held_ = false;
}

void SharcHostBootBoard::OnByte(uint8_t b) {
    if (streaming_) {
        StreamByte(b);
        return;
    }
    if (unlockAt_ > 0 || b == UnlockText[0]) {
        if (static_cast<uint8_t>(UnlockText[unlockAt_]) == b) {
            if (++unlockAt_ == UnlockLength) {
                unlockAt_ = 0;
                unlocked_ = !faults.Negative;
                Send(unlocked_ ? UnlockYes : UnlockNo);
            }
            return;
        }
        unlockAt_ = 0;
        Send(UnlockNo);
        return;
    }
    if (b == CmdFind) {
        Send(Found);
    } else if (b == CmdStream && unlocked_) {
        streaming_ = true;
        started_ = true;
        finished_ = false;
        memory_.clear();
        haveHigh_ = false;
        escapePending_ = false;
        fill_ = 0;
        lastMs_ = NowMs();
        held_ = false;
    }
}

void SharcHostBootBoard::StreamByte(uint8_t b) {
    const int64_t now = NowMs();
    Drain(now);
    if (fill_ + 1 > options_.Capacity) {
        ++lost_;
        return;
    }
    fill_ += 1;
    peak_ = std::max(peak_, fill_);
    if (!held_ && fill_ >= options_.XoffLevel) {
        held_ = true;
        ++xoffs_;
        Send(Xoff);
        // The bridge lets the stream go on once the DSP has taken the buffer down to the
        // XON level (bytes still on their way add to it meanwhile).
        const double drainMs =
            options_.Rate > 0 ? (fill_ - options_.XonLevel) * 1000.0 / options_.Rate : 0;
        xonAtMs_ = now + static_cast<int64_t>(drainMs + 0.999);
        if (!options_.NoXon) Send(Xon, static_cast<int>(xonAtMs_ - now));
    }
    if (escapePending_) {
        escapePending_ = false;
        Take(static_cast<uint8_t>(~b));
    } else if (b == StreamEscape) {
        escapePending_ = true;
    } else if (b == StreamEnd) {
        streaming_ = false;
        finished_ = true;
    } else {
        Take(b);
    }
}

void SharcHostBootBoard::Take(uint8_t value) {
    if (!haveHigh_) {
        high_ = value;
        haveHigh_ = true;
        return;
    }
    memory_.push_back(value);  // the file holds each word low byte first
    memory_.push_back(high_);
    haveHigh_ = false;
}

}  // namespace ps::sim

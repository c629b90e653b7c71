// SPDX-License-Identifier: MIT
#include "sim/Wire.h"

#include "sim/MemoryDump.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>

namespace ps::sim {

namespace {
// A line nobody has set a rate on yet runs at the rate every port starts with.
constexpr uint32_t FallbackBaud = 9600;
constexpr int64_t BitsPerByte = 10;  // start bit, eight data bits, stop bit

// Stray bytes come from a range no board answers with, so noise costs the station retries
// and discarded bytes, never a false acknowledgement.
constexpr uint8_t NoiseBase = 0xE0;
constexpr uint8_t NoiseMask = 0x0F;
constexpr uint32_t MaxNoiseBytes = 2;
}  // namespace

// ---- Transcript ----

std::vector<uint8_t> Transcript::SentBytes() const {
    std::vector<uint8_t> out;
    out.reserve(Sent.size());
    for (const SentByte& s : Sent) out.push_back(s.Byte);
    return out;
}

std::vector<std::string> Transcript::LineTexts() const {
    std::vector<std::string> out;
    for (const LineChange& l : Lines)
        out.push_back(std::string(l.Line == 'D' ? "DTR " : "RTS ") + (l.Asserted ? "1" : "0"));
    return out;
}

std::vector<std::string> Transcript::EventTexts() const {
    std::vector<std::string> out;
    for (const Event& e : Events) out.push_back(e.Text);
    return out;
}

void Transcript::Clear() {
    *this = Transcript{};
}

std::string HexBytes(const uint8_t* data, size_t count) {
    std::string out;
    char buf[4];
    for (size_t i = 0; i < count; ++i) {
        std::snprintf(buf, sizeof buf, "%02X", data[i]);
        if (i) out += ' ';
        out += buf;
    }
    return out;
}

std::string HexBytes(const std::vector<uint8_t>& bytes) {
    return HexBytes(bytes.data(), bytes.size());
}

// ---- Wire ----

Wire::Wire(Clock& clock, std::unique_ptr<Board> board, std::string name)
    : clock_(clock), board_(std::move(board)), name_(std::move(name)) {
    board_->AttachWire(this);
}

Wire::~Wire() {
    board_->AttachWire(nullptr);
}

int64_t Wire::ByteTimeUs(uint32_t baud) {
    return BurstTimeUs(baud, 1);
}

int64_t Wire::BurstTimeUs(uint32_t baud, int64_t bytes) {
    // From the burst's start, so rounding to microseconds never adds up along a long burst.
    if (baud == 0) baud = FallbackBaud;
    return (bytes * BitsPerByte * 1000000 + baud / 2) / baud;
}

int64_t Wire::NowUs() const {
    return clock_.NowUs();
}

int64_t Wire::BoardNowMs() const {
    return (boardNowUs_ >= 0 ? boardNowUs_ : NowUs()) / 1000;
}

void Wire::Record(const std::string& text) {
    if (recording_) transcript_.Events.push_back({clock_.NowMs(), text});
}

void Wire::Advance() {
    const int64_t now = NowUs();
    while (!toBoard_.empty() && toBoard_.begin()->first <= now) {
        auto first = toBoard_.begin();
        const int64_t at = first->first;
        const StationEvent ev = first->second;
        toBoard_.erase(first);
        boardNowUs_ = at;
        switch (ev.kind) {
            case StationEvent::Byte:
                board_->OnByte(static_cast<uint8_t>(ev.value));
                break;
            case StationEvent::Dtr:
                boardDtr_ = ev.value != 0;
                board_->OnLines(boardDtr_, boardRts_);
                break;
            case StationEvent::Rts:
                boardRts_ = ev.value != 0;
                board_->OnLines(boardDtr_, boardRts_);
                break;
            case StationEvent::Baud:
                boardBaud_ = ev.value;
                board_->OnBaud(boardBaud_);
                break;
        }
        boardNowUs_ = -1;
    }
    // Nobody listens on a closed port: what arrives meanwhile is lost.
    if (!open_) DropDueBytes();
}

size_t Wire::DueCount() const {
    const int64_t now = NowUs();
    size_t n = 0;
    while (n < toStation_.size() && toStation_[n].DueUs <= now) ++n;
    return n;
}

void Wire::DropDueBytes() {
    const size_t n = DueCount();
    toStation_.erase(toStation_.begin(), toStation_.begin() + static_cast<long>(n));
}

int64_t Wire::NextInterestingUs() const {
    int64_t next = -1;
    if (!toStation_.empty()) next = toStation_.front().DueUs;
    if (!toBoard_.empty() && (next < 0 || toBoard_.begin()->first < next))
        next = toBoard_.begin()->first;
    return next;
}

int64_t Wire::NextDueMs() const {
    const int64_t next = NextInterestingUs();
    return next < 0 ? -1 : (next + 999) / 1000;
}

uint8_t Wire::NoiseByte() {
    // xorshift32: the same noise on every run, so a test that fails fails again.
    noiseState_ ^= noiseState_ << 13;
    noiseState_ ^= noiseState_ >> 17;
    noiseState_ ^= noiseState_ << 5;
    return static_cast<uint8_t>(noiseState_);
}

int Wire::Open() {
    if (dead_) return -ENODEV;
    if (open_) return -EBUSY;
    Advance();
    open_ = true;
    ++transcript_.Opens;
    Record("OPEN");
    board_->OnOpen();
    return 0;
}

void Wire::Close() {
    if (!open_) return;
    Advance();
    DropDueBytes();
    open_ = false;
    ++transcript_.Closes;
    Record("CLOSE");
    board_->OnClose();
    DumpBoardMemory(*board_);
}

void Wire::WaitForQueueRoom(size_t bytes) {
    const long queue = board_->StationQueueBytes;
    if (queue <= 0) return;
    // Room once no more than queue - bytes of what was written before is still to go out.
    const int64_t until =
        txFreeUs_ - BurstTimeUs(baud_, std::max<int64_t>(0, queue - static_cast<long>(bytes)));
    while (NowUs() < until) {
        clock_.SleepUntilUs(until);
        Advance();
    }
}

long Wire::Write(const uint8_t* data, size_t count) {
    if (dead_) return -EIO;
    if (!open_) return -EBADF;
    Advance();
    const long dropAfter = board_->faults.DropAfterBytes;
    const size_t queue = board_->StationQueueBytes > 0
                             ? static_cast<size_t>(board_->StationQueueBytes)
                             : std::max<size_t>(count, 1);
    const int64_t calledMs = clock_.NowMs();
    std::vector<uint8_t> written;
    size_t i = 0;
    while (i < count && !(dropAfter >= 0 && sentCount_ >= dropAfter)) {
        const size_t chunk = std::min(count - i, queue);
        WaitForQueueRoom(chunk);
        const int64_t now = NowUs();
        const int64_t start = std::max(now, txFreeUs_);
        int64_t t = start;
        for (size_t k = 0; k < chunk; ++k, ++i) {
            if (dropAfter >= 0 && sentCount_ >= dropAfter) break;
            t = start + BurstTimeUs(baud_, static_cast<int64_t>(k) + 1);
            toBoard_.emplace(t, StationEvent{StationEvent::Byte, data[i]});
            if (recording_) transcript_.Sent.push_back({now / 1000, t, data[i]});
            written.push_back(data[i]);
            ++sentCount_;
        }
        txFreeUs_ = t;
    }
    if (!written.empty() && recording_) {
        transcript_.Writes.push_back({calledMs, written});
        Record("TX " + HexBytes(written));
    }
    // The board drops off the line once it has had its share: the device is gone.
    if (dropAfter >= 0 && sentCount_ >= dropAfter) dead_ = true;
    return i < count ? -EIO : static_cast<long>(count);
}

long Wire::Read(uint8_t* data, size_t count) {
    if (dead_) return -EIO;
    if (!open_) return -EBADF;
    Advance();
    const size_t n = std::min(count, DueCount());
    for (size_t i = 0; i < n; ++i) {
        data[i] = toStation_.front().Byte;
        toStation_.pop_front();
    }
    if (n > 0 && recording_) {
        transcript_.Received.insert(transcript_.Received.end(), data, data + n);
        Record("RX " + HexBytes(data, n));
    }
    return static_cast<long>(n);
}

long Wire::BytesWaiting() {
    if (dead_) return -EIO;
    if (!open_) return -EBADF;
    Advance();
    return static_cast<long>(DueCount());
}

int Wire::Purge() {
    if (dead_) return -EIO;
    if (!open_) return -EBADF;
    Advance();
    DropDueBytes();
    ++transcript_.Purges;
    Record("PURGE");
    return 0;
}

int Wire::SetDtr(bool asserted) {
    if (dead_) return -EIO;
    if (!open_) return -EBADF;
    if (recording_) transcript_.Lines.push_back({clock_.NowMs(), 'D', asserted});
    Record(asserted ? "DTR 1" : "DTR 0");
    toBoard_.emplace(NowUs(), StationEvent{StationEvent::Dtr, asserted ? 1u : 0u});
    Advance();
    return 0;
}

int Wire::SetRts(bool asserted) {
    if (dead_) return -EIO;
    if (!open_) return -EBADF;
    if (recording_) transcript_.Lines.push_back({clock_.NowMs(), 'R', asserted});
    Record(asserted ? "RTS 1" : "RTS 0");
    toBoard_.emplace(NowUs(), StationEvent{StationEvent::Rts, asserted ? 1u : 0u});
    Advance();
    return 0;
}

int Wire::SetBaud(uint32_t baud) {
    if (dead_) return -EIO;
    if (!open_) return -EBADF;
    if (baud == 0) return -EINVAL;
    if (baud == baud_) return 0;
    baud_ = baud;
    if (recording_) transcript_.Bauds.push_back({clock_.NowMs(), baud});
    Record("BAUD " + std::to_string(baud));
    toBoard_.emplace(NowUs(), StationEvent{StationEvent::Baud, baud});
    Advance();
    return 0;
}

int Wire::WaitReadable(int timeoutMs) {
    if (dead_) return -EIO;
    if (!open_) return -EBADF;
    Advance();
    const int64_t deadline = NowUs() + static_cast<int64_t>(std::max(timeoutMs, 0)) * 1000;
    for (;;) {
        if (DueCount() > 0) return 1;
        const int64_t now = NowUs();
        if (now >= deadline) return 0;
        // Sleep until the next thing on the line (a byte reaching the board may make it
        // answer) or the limit, whichever is first: a silent board costs no CPU.
        const int64_t next = NextInterestingUs();
        const int64_t until = (next < 0 || next > deadline) ? deadline : next;
        clock_.SleepUntilUs(until);
        Advance();
    }
}

int Wire::DrainOutput(int timeoutMs) {
    if (dead_) return -EIO;
    if (!open_) return -EBADF;
    Advance();
    const int64_t deadline = NowUs() + static_cast<int64_t>(std::max(timeoutMs, 0)) * 1000;
    for (;;) {
        const int64_t now = NowUs();
        if (txFreeUs_ <= now) return 0;
        if (now >= deadline) return -ETIMEDOUT;
        clock_.SleepUntilUs(std::min(txFreeUs_, deadline));
        Advance();
    }
}

void Wire::BoardSend(const std::vector<uint8_t>& bytes, int delayMs) {
    if (dead_ || bytes.empty() || board_->faults.Silent) return;
    const int64_t base = boardNowUs_ >= 0 ? boardNowUs_ : NowUs();
    const int64_t stamp =
        base +
        static_cast<int64_t>(std::max(delayMs, 0) + std::max(board_->faults.LateMs, 0)) * 1000;
    std::vector<uint8_t> out;
    if (board_->faults.Noise) {
        const uint32_t stray = NoiseByte() % (MaxNoiseBytes + 1);
        for (uint32_t i = 0; i < stray; ++i) out.push_back(NoiseBase | (NoiseByte() & NoiseMask));
    }
    out.insert(out.end(), bytes.begin(), bytes.end());
    const int64_t start = std::max(stamp, rxFreeUs_);
    int64_t t = start;
    const int64_t burstUs = static_cast<int64_t>(std::max(board_->AdapterLatencyMs, 0)) * 1000;
    for (size_t i = 0; i < out.size(); ++i) {
        t = start + BurstTimeUs(boardBaud_, static_cast<int64_t>(i) + 1);
        // An adapter hands a byte on at the next tick of its timer after the byte arrived.
        const int64_t due = burstUs > 0 ? (t + burstUs - 1) / burstUs * burstUs : t;
        toStation_.push_back({due, out[i]});
    }
    rxFreeUs_ = t;
}

}  // namespace ps::sim

// SPDX-License-Identifier: MIT
#pragma once
// SHARC tests: a station on the virtual clock wired to a simulated SHARC board, and the
// record files they write.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "support/StationHarness.h"

namespace pstest {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t SharcWords = 0x40000;
constexpr uint32_t SharcPage = 0x8000;

inline Bytes BlankSharcFlash() {
    return Bytes(static_cast<size_t>(SharcWords) * 4, 0xFF);
}

// Varied data in words [first, first + count), with the bytes the bridge reserves (0xC8
// followed by 0x00, 0xC9) and erased bytes among them.
inline void FillWords(Bytes& flash, uint32_t first, uint32_t count, uint32_t seed) {
    uint32_t x = seed;
    for (size_t i = 4 * static_cast<size_t>(first); i < 4 * static_cast<size_t>(first + count);
         ++i) {
        x = x * 1103515245u + 12345u;
        flash[i] = static_cast<uint8_t>(x >> 16);
    }
    const size_t at = 4 * static_cast<size_t>(first);
    const uint8_t marks[] = {0xC8, 0x00, 0xC9, 0xFF};
    for (size_t k = 0; k < 4 && at + k < flash.size(); ++k) flash[at + k] = marks[k];
}

// One record line: "S", count, 24-bit word address, four bytes a word, in hex.
inline std::string RecordLine(const Bytes& flash, uint32_t first, uint32_t count) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "S%02X%06X", static_cast<unsigned>(count),
                  static_cast<unsigned>(first));
    std::string line = buf;
    for (size_t i = 4 * static_cast<size_t>(first); i < 4 * static_cast<size_t>(first + count);
         ++i) {
        std::snprintf(buf, sizeof buf, "%02X", flash[i]);
        line += buf;
    }
    return line + "\r\n";
}

// Records of at most perRecord words over every run of words holding data, in address
// order (so the file's CRC is the flash's).
inline std::string RecordFile(const Bytes& flash, uint32_t perRecord = 16) {
    std::string text;
    auto holds = [&](uint32_t w) {
        for (size_t k = 0; k < 4; ++k)
            if (flash[4 * static_cast<size_t>(w) + k] != 0xFF) return true;
        return false;
    };
    for (uint32_t w = 0; w < flash.size() / 4;) {
        if (!holds(w)) {
            ++w;
            continue;
        }
        uint32_t n = 0;
        while (n < perRecord && w + n < flash.size() / 4 && holds(w + n)) ++n;
        text += RecordLine(flash, w, n);
        w += n;
    }
    return text;
}

// True when `part` appears in `all` as a run of consecutive bytes.
inline bool Contains(const Bytes& all, const Bytes& part) {
    return std::search(all.begin(), all.end(), part.begin(), part.end()) != all.end();
}

// The texts appear in this order among the statuses shown.
inline void ExpectStatusesInOrder(const ps::sim::RecordingView& view,
                                  const std::vector<std::string>& texts) {
    const auto shown = view.StatusTexts();
    auto at = shown.begin();
    for (const auto& text : texts) {
        at = std::find(at, shown.end(), text);
        EXPECT_NE(shown.end(), at) << "missing \"" << text << "\"\n" << view.Dump();
    }
}

// STOP after this much virtual time: a run that never ends still ends the test.
constexpr int64_t StopLimitMs = 600000;

template <class BoardType>
struct SharcHarness : StationHarness {
    explicit SharcHarness(std::unique_ptr<BoardType> made)
        : StationHarness(std::move(made)), board(Board<BoardType>()) {
        view.AtTime(StopLimitMs, [this] { ps::StopBtnClick(st); });
    }
    std::string Image(const std::string& name, const std::string& content) {
        dir.Write(name, content);
        return dir.File(name);
    }
    BoardType& board;
};

}  // namespace pstest

// SPDX-License-Identifier: MIT
#pragma once
// A station wired to one of the inline models' simulated boards, and image files written
// independently of the station's readers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "sim/Boards.h"
#include "support/StationHarness.h"

namespace inlinetest {

using Bytes = std::vector<uint8_t>;
// Image contents by start address.
using Chunks = std::map<uint32_t, Bytes>;

inline std::unique_ptr<ps::sim::Board> MakeBoardOrFail(const std::string& spec) {
    std::string error;
    auto board = ps::sim::MakeBoard(spec, error);
    EXPECT_NE(board, nullptr) << spec << ": " << error;
    return board;
}

inline std::string HexText(const Bytes& bytes) {
    std::string out;
    char digits[3];
    for (uint8_t b : bytes) {
        std::snprintf(digits, sizeof digits, "%02X", b);
        out += digits;
    }
    return out;
}

// One S-record line: "S" kind, count, address of addressBytes bytes, data, checksum.
inline std::string SrecLine(int kind, uint32_t address, const Bytes& data, int addressBytes) {
    Bytes body = {static_cast<uint8_t>(addressBytes + data.size() + 1)};
    for (int i = addressBytes - 1; i >= 0; --i)
        body.push_back(static_cast<uint8_t>(address >> (8 * i)));
    body.insert(body.end(), data.begin(), data.end());
    uint8_t sum = 0;
    for (uint8_t b : body) sum = static_cast<uint8_t>(sum + b);
    body.push_back(static_cast<uint8_t>(~sum));
    return "S" + std::to_string(kind) + HexText(body);
}

// One Intel HEX line.
inline std::string IntelLine(uint16_t address, uint8_t type, const Bytes& data) {
    Bytes body = {static_cast<uint8_t>(data.size()), static_cast<uint8_t>(address >> 8),
                  static_cast<uint8_t>(address), type};
    body.insert(body.end(), data.begin(), data.end());
    uint8_t sum = 0;
    for (uint8_t b : body) sum = static_cast<uint8_t>(sum + b);
    body.push_back(static_cast<uint8_t>(0x100 - sum));
    return ":" + HexText(body);
}

// The chunks cut into lines of `line` bytes, one text with CR LF line ends. kind 1 and 2
// give S-records (with a header and an end line), 0 Intel HEX (with the end record).
inline std::string ImageFileText(const Chunks& chunks, size_t line, int kind) {
    std::string text;
    if (kind != 0) text += SrecLine(0, 0, {'i', 'm', 'g'}, 2) + "\r\n";
    for (const auto& [start, data] : chunks) {
        for (size_t off = 0; off < data.size(); off += line) {
            const Bytes part(data.begin() + static_cast<long>(off),
                             data.begin() + static_cast<long>(std::min(data.size(), off + line)));
            const auto address = static_cast<uint32_t>(start + off);
            text += (kind == 0 ? IntelLine(static_cast<uint16_t>(address), 0, part)
                               : SrecLine(kind, address, part, kind + 1)) +
                    "\r\n";
        }
    }
    text += kind == 0 ? ":00000001FF\r\n" : SrecLine(kind == 1 ? 9 : 8, 0, {}, kind + 1) + "\r\n";
    return text;
}

// Program-like bytes: varied, with every value 0xFA..0xFF among them.
inline Bytes SampleBytes(size_t n, uint32_t seed) {
    Bytes out(n);
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < n; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        out[i] = i % 37 == 5 ? static_cast<uint8_t>(0xFA + i % 6) : static_cast<uint8_t>(x);
    }
    return out;
}

// `initial` with the chunks written over it.
inline Bytes Overlay(Bytes initial, const Chunks& chunks) {
    for (const auto& [start, data] : chunks)
        std::copy(data.begin(), data.end(), initial.begin() + start);
    return initial;
}

// Whether `pattern` occurs in `bytes`.
inline bool Contains(const Bytes& bytes, const Bytes& pattern) {
    return std::search(bytes.begin(), bytes.end(), pattern.begin(), pattern.end()) != bytes.end();
}

// Changes the working folder for as long as it lives (the .BIN copy is written there).
class InFolder {
public:
    explicit InFolder(const std::string& folder) : old_(std::filesystem::current_path()) {
        std::filesystem::current_path(folder);
    }
    ~InFolder() { std::filesystem::current_path(old_); }

private:
    std::filesystem::path old_;
};

struct Rig : pstest::StationHarness {
    explicit Rig(const std::string& spec) : StationHarness(MakeBoardOrFail(spec)) {}

    // A step file whose step 1 is `lines` (with "/AUTOCONTINUE" added).
    void Step(std::vector<std::string> lines) {
        lines.push_back("/AUTOCONTINUE");
        StepFile(lines);
    }
    std::string Image(const std::string& name, const std::string& text) {
        dir.Write(name, text);
        return dir.File(name);
    }
    Bytes Sent() { return Wire().SentBytes(); }
    bool SawSuccess() const {
        for (const std::string& text : view.StatusTexts())
            if (text.rfind("programed ok!", 0) == 0) return true;
        return false;
    }
};

}  // namespace inlinetest

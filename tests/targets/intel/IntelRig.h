// SPDX-License-Identifier: MIT
#pragma once
// A station wired to one of the simulated Intel boards, running one-step projects, and the
// Intel HEX images the Intel tests write.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "sim/Wire.h"
#include "support/StationHarness.h"
#include "targets/avr/AvrRig.h"

namespace ps::inteltest {

using Bytes = std::vector<uint8_t>;

// Data at a CPU address; a bank of 0 or more puts a type 02 record for it first.
struct Segment {
    int Bank;
    uint32_t Address;
    Bytes Data;
};

// Intel HEX text written independently of the station's reader: 16-byte type 00 records,
// type 02 records for banks, the end record.
inline std::string HexText(const std::vector<Segment>& segments) {
    std::string text;
    auto record = [&](uint8_t type, uint32_t address, const uint8_t* data, size_t n) {
        text += ps::avrtest::HexRecord(type, static_cast<uint16_t>(address),
                                       std::vector<uint8_t>(data, data + n), "\r\n");
    };
    for (const Segment& s : segments) {
        if (s.Bank >= 0) {
            const uint8_t bank[2] = {static_cast<uint8_t>(s.Bank << 4), 0x00};
            record(0x02, 0, bank, 2);
        }
        for (size_t first = 0; first < s.Data.size(); first += 16)
            record(0x00, s.Address + static_cast<uint32_t>(first), s.Data.data() + first,
                   std::min<size_t>(16, s.Data.size() - first));
    }
    return text + ":00000001FF\r\n";
}

// n bytes of program-like data, deterministic.
inline Bytes Pattern(size_t n, uint32_t seed) {
    std::mt19937 random(seed);
    Bytes out(n);
    for (uint8_t& b : out) b = static_cast<uint8_t>(random());
    return out;
}

// "/PB=", "/PL=", "/PF=": the image key of models 2, 3 and 4.
inline std::string ModelKey(int32_t model) {
    return model == 2 ? "/PB=" : model == 3 ? "/PL=" : "/PF=";
}

// Step lines written in one text, a blank between them.
inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    for (size_t from = 0, blank = 0; blank != std::string::npos; from = blank + 1) {
        blank = text.find(' ', from);
        lines.push_back(text.substr(from, blank - from));
    }
    return lines;
}

struct Rig {
    explicit Rig(std::unique_ptr<sim::Board> board) : h(std::move(board)) {}

    // Runs a one-step project for `model` with the image `hex` (none when empty) and the
    // step lines; the step does not pause. Returns the exit status.
    int Run(int32_t model, const std::string& hex, const std::vector<std::string>& lines) {
        if (!hex.empty()) h.dir.Write("image.hex", hex);
        return RunFile(model, hex.empty() ? "" : "image.hex", lines);
    }
    // The same with the image file `name` of the test's folder, as it is there (or not).
    int RunFile(int32_t model, const std::string& name, std::vector<std::string> lines) {
        lines.insert(lines.begin(), ModelKey(model) + (name.empty() ? "" : h.dir.File(name)));
        lines.push_back("/AUTOCONTINUE");
        h.StepFile(lines);
        return h.Run();
    }
    Bytes Sent() { return h.Wire().SentBytes(); }
    template <class B>
    B& Board() {
        return h.Board<B>();
    }
    // The step's success text was shown at some moment.
    bool SawResultOk() const { return h.view.SawStatusContaining("programed ok!"); }

    pstest::StationHarness h;
};

}  // namespace ps::inteltest

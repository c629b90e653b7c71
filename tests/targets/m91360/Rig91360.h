// SPDX-License-Identifier: MIT
#pragma once
// A station wired to a simulated 91360 board under the virtual clock, and the S-record
// images the 91360 tests write, made here independently of the station's own code.
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/RunController.h"
#include "support/StationHarness.h"

namespace m91360test {

using Memory = std::map<uint32_t, uint8_t>;  // address -> byte; absent addresses hold none

// count varied bytes from address on.
inline void Fill(Memory& m, uint32_t address, int count, unsigned seed = 1) {
    for (int i = 0; i < count; ++i)
        m[address + static_cast<uint32_t>(i)] = static_cast<uint8_t>((i + seed) * 29 + seed);
}

// "S2" records of at most 32 bytes that never span a gap, after an "S0" header and before
// an "S8" end record (both of which the loaders skip).
inline std::string SRecords(const Memory& m) {
    std::string text = "S00600004844521B\r\n";
    char buf[8];
    for (auto it = m.begin(); it != m.end();) {
        std::vector<uint8_t> record = {0, static_cast<uint8_t>(it->first >> 16),
                                       static_cast<uint8_t>(it->first >> 8),
                                       static_cast<uint8_t>(it->first)};
        uint32_t next = it->first;
        while (it != m.end() && it->first == next && record.size() < 36) {
            record.push_back(it->second);
            ++it, ++next;
        }
        record[0] = static_cast<uint8_t>(record.size());  // address, data and checksum
        unsigned sum = 0;
        text += "S2";
        for (uint8_t b : record) {
            std::snprintf(buf, sizeof buf, "%02X", b);
            text += buf;
            sum += b;
        }
        std::snprintf(buf, sizeof buf, "%02X", ~sum & 0xFF);
        text += std::string(buf) + "\r\n";
    }
    return text + "S804000000FB\r\n";
}

// A run of the project in the harness's folder: the step's lines after the model key and
// its image, with a stop after ten virtual minutes so that no test can hang.
struct Rig {
    template <class B>
    explicit Rig(std::unique_ptr<B> made) : board(*made), h(std::move(made)) {
        h.view.AtTime(600000, [this] { ps::StopBtnClick(h.st); });
    }
    int Run(const std::string& modelKey, const Memory& image, std::vector<std::string> lines) {
        h.dir.Write("image.mhx", SRecords(image));
        lines.insert(lines.begin(), modelKey + h.dir.File("image.mhx"));
        h.StepFile(lines);
        return h.Run();
    }
    ps::sim::Board& board;
    pstest::StationHarness h;
};

}  // namespace m91360test

// SPDX-License-Identifier: MIT
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace ps {

// The S-record line parser and image holder shared by the 91360 loaders. It lives outside
// any run: made at the first activation of the main window, freed when it closes.
class TMOT {
public:
    static constexpr int ImageEntries = 524288;  // offsets 0x00000..0x7FFFF
    static constexpr int MaxLineData = 1001;

    struct Entry {
        uint8_t Present = 0;
        uint8_t Value = 0;
    };

    uint32_t BadLine = 0;
    uint32_t RecordType = 0;
    int32_t DataCount = 0;
    uint32_t Address = 0;
    std::array<uint8_t, MaxLineData> LineData{};
    uint8_t LineChecksum = 0;
    std::vector<Entry> Image = std::vector<Entry>(ImageEntries);

    // Parses one text line (strict hex; raises EConvertError on a bad field).
    void ParseLine(const std::string& line);
    // Stores the last "S2" line's bytes at address - addrStart; returns how many were kept.
    int StoreLine(int32_t addrStart);
    // Marks every entry absent (before each file is loaded).
    void ClearImage();
};

}  // namespace ps

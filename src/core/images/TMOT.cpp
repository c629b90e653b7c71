// SPDX-License-Identifier: MIT
#include "images/TMOT.h"

#include <algorithm>

#include "images/HexConvert.h"

namespace ps {

// Bounds: the count is one strict byte, so DataCount lies in -4..251 and the data loop
// always fits LineData. A count below 4 (no room for the address and checksum) gives a
// negative DataCount: no data byte is read or stored. The loops still clamp to LineData,
// so a DataCount set from outside can never write or read past it.
void TMOT::ParseLine(const std::string& line) {
    BadLine = 0;
    DataCount = 0;
    if (line.empty() || line[0] != 'S') {
        BadLine = 1;
        return;
    }
    RecordType = line.size() > 1 ? static_cast<uint8_t>(line[1]) : 0;
    if (RecordType != '2') return;

    DataCount = static_cast<int32_t>(StrictHexByte(line, 3)) - 4;
    Address = StrictHex(line, 5, 6);
    const int count = std::clamp(DataCount, 0, MaxLineData);
    for (int i = 0; i < count; ++i) LineData[i] = StrictHexByte(line, 11 + 2 * i);
    LineChecksum = StrictHexByte(line, 11 + 2 * DataCount);
}

int TMOT::StoreLine(int32_t addrStart) {
    const int count = std::clamp(DataCount, 0, MaxLineData);
    int kept = 0;
    for (int i = 0; i < count; ++i) {
        const int64_t d = static_cast<int64_t>(Address) + i - addrStart;
        if (d < 0 || d >= ImageEntries) continue;  // outside the image: dropped silently
        Image[static_cast<size_t>(d)] = Entry{1, LineData[i]};
        ++kept;
    }
    return kept;
}

void TMOT::ClearImage() {
    std::fill(Image.begin(), Image.end(), Entry{});
}

}  // namespace ps

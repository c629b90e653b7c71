// SPDX-License-Identifier: MIT
#pragma once
#include <cstdint>
#include <string>

namespace ps {

class Station;

// The emulator takes each Intel HEX data record as 'A', address high, low, the data count
// and the data, and the end of the transfer as 'R'. It acknowledges nothing; whatever it
// sends meanwhile is read and dropped so the input never fills up.
constexpr uint8_t EmulatorRecordMark = 0x41;  // 'A'
constexpr uint8_t EmulatorEnd = 0x52;         // 'R'
// RowByteCounts of this transfer count 16 KB per entry, whatever the map's rows are.
constexpr int EmulatorRowBytes = 0x4000;
constexpr int EmulatorDrainChunk = 250;

// Reads the step's Intel HEX file without sending anything: false, reported through the
// station, when it cannot be opened, a line is not a record or a record is cut short.
bool CheckEmulatorImage(Station& st, const std::string& fileName);

// Counts the file's bytes (per 16 KB) in a first pass, then sends the data records and
// 'R'. Hex digits are read without the high-digit clamp, as the emulator's files always
// were. No ImageChecksum: the emulator has no checksum command.
void TransferEmulatorImage(Station& st, const std::string& fileName);

}  // namespace ps

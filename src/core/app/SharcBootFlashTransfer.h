// SPDX-License-Identifier: MIT
#pragma once
#include <cstdint>
#include <string>

namespace ps {

class Station;

// The AVR bridge of a "SHARC-Boot flash" board takes each Intel HEX data record as a frame:
// 'S', the data count (as it is), 0x00, then the address, the data and the line's checksum,
// each escaped as the bridge's streams are (0xFB -> 0xFF 0x04); it answers 'i'.
constexpr uint8_t BootFlashRecordMark = 0x53;  // 'S'
constexpr uint8_t BootFlashRecordAck = 0x69;   // 'i'

// Reads the step's Intel HEX file without sending anything (the strict fields included):
// false, reported through the station, when it cannot be used.
bool CheckSharcBootFlashImage(Station& st, const std::string& fileName);

// Sends the data records to the bridge, each acknowledged. ImageChecksum becomes the
// complement of the 16-bit sum of the data bytes other than 0xFF (what the DSP's range
// checksum answers in its low half); the blocks of each record's first and last address are
// marked (block = address / "/BLOCKLEN="), the gauge moves by lines.
void TransferSharcBootFlashImage(Station& st, const std::string& fileName);

}  // namespace ps

// SPDX-License-Identifier: MIT
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace ps {

class Station;

// The split 32-bit flash of the SHARC boards: eight pages of 0x8000 words.
constexpr uint32_t SharcPageWords = 0x8000;
constexpr int SharcPageCount = 8;
constexpr uint32_t SharcFlashWords = SharcPageWords * SharcPageCount;  // 0x40000
constexpr uint32_t SharcCrcStart = 0xFFFFFFFF;

// Loader commands after "KBoTaps" (through the bridge), with their answers.
constexpr uint8_t SharcUsbFind = 0x47;         // 'G': the USB serial bridge, answered 'g'
constexpr uint8_t SharcUsbFound = 0x67;        // 'g'
constexpr uint8_t SharcSimulateFlash = 0x4D;   // 'M' -> 'i'
constexpr uint8_t SharcSelectFlash = 0x46;     // 'F' and a blank -> 'i'
constexpr uint8_t SharcFlashKind = 0x20;       // the blank after 'F'
constexpr uint8_t SharcReady = 0x69;           // 'i'
constexpr uint8_t SharcEraseAll = 0x32;        // '2' -> '7'
constexpr uint8_t SharcEraseAllDone = 0x37;    // '7'
constexpr uint8_t SharcErasePages = 0x45;      // 'E', mask high, mask low -> 'e'
constexpr uint8_t SharcErasePagesDone = 0x65;  // 'e'
constexpr uint8_t SharcRecordMark = 0x53;      // 'S': a record, answered 'i' or 'h'
constexpr uint8_t SharcRecordTaken = 0x69;     // 'i'
constexpr uint8_t SharcRecordRefused = 0x68;   // 'h'

// A record line ("S" and hex pairs) in its wire form: 'S', the count of 32-bit words, the
// 24-bit start word address high byte first, then four bytes a word.
struct SharcRecord {
    std::vector<uint8_t> Bytes;
    uint32_t FirstWord = 0;
    uint32_t LastWord = 0;
    int Count = 0;
};
// Decodes a line that begins with "S" (strict hex pairs from the second character; a last
// lone digit is not a pair). False when the record is shorter than its header or its data
// is not four bytes for each counted word. Raises EConvertError for a non-hex pair.
bool DecodeSharcRecord(const std::string& line, SharcRecord& record);

// What a read of the record file learns, and which pages the run erases and writes.
struct SharcSplitImage {
    std::array<bool, SharcPageCount> Needed{};
    std::array<uint32_t, SharcPageCount> PageCrc{};  // CRC-32 of each page's data bytes
    uint32_t WholeCrc = 0;                           // (no data: the CRC of nothing, 0)
};

// Reads the record file: CRC-32 of the whole image and of each page over the data bytes
// that are not 0xFF, the byte column's word counts, the map (LoadedColour when countOnly,
// else ProgrammedColour). Unless countOnly, sends every record that touches a needed page,
// escaped (not with "/USB"), each answer awaited just before the next record goes out. A
// refused record ends the sending: message box "Error", RunError 8. A record beyond the
// flash or malformed refuses the file (image-file error, RunError 12) before it is sent.
void LoadSharcRecords(Station& st, const std::string& fileName, bool countOnly,
                      SharcSplitImage& image);

// The "SHARC-SPLIT 32b" step: the bridge (or the USB bridge) and the DSP's loader, page
// CRCs compared from page 7 down, erase of the pages that differ, their records, the
// optional CRC of the whole flash, the result, the end of the exchange and CONTINUE.
void SharcSplitFlow(Station& st);

}  // namespace ps

// SPDX-License-Identifier: MIT
#pragma once
#include <cstdint>
#include <functional>
#include <string>

namespace ps {

class Station;
class ImageText;

// What the four image transfers of the inline sequence (MOTOROLA, 574-BOOT, SHARC-Boot
// flash, INTEL - EMULATOR) share: reading an image file line by line under the bad-file
// rules, the gauge, and the memory map's blocks and byte labels.

inline constexpr const char* IntelHexExtension = ".HEX";
inline constexpr const char* SrecExtension = ".MHX";
// The reading loops let the window breathe this often when a stretch of lines sends nothing.
constexpr int TransferLinesPerPump = 64;

// part / whole * 100 to the nearest integer, halves to the even neighbour (100 for an empty
// whole).
int TransferPercent(int64_t part, int64_t whole);

// The block of an address by the map's proportional rule: truncate((address - "/ADDRSTART=")
// / "/ADDRLEN=" * columns * rows). -1 when the step has no address space or the block lies
// outside the grid the panel shows.
int ProportionalBlock(const Station& st, int64_t address);

// Marks a block programmed (a block index of the shown grid; -1 marks nothing). With
// lastIndex, a run of addresses in one block is marked once.
void MarkProgrammed(Station& st, int index);
void MarkProgrammedOnce(Station& st, int index, int& lastIndex);

// Every block to empty when the step has an address space ("/ADDRLEN=" > 0), then a pump.
void ClearMapForTransfer(Station& st);

// Byte label 0 := total; labels 1..rows := the counts of the rows (RowByteCounts).
void ShowRowByteCounts(Station& st, int64_t total);

// How a pass over an image file ended.
enum class ImageRead {
    Completed,  // read to its end
    Stopped,    // the handler asked to stop (STOP, or the run ended)
    BadFile,    // not opened, not readable to its end, or a line without its record mark,
                // too long, or too short for its record: reported through the station
                // (message box, RunError 12)
};
enum class LineVerdict { Next, Stop, Malformed };
using ImageLineHandler = std::function<LineVerdict(const std::string& line, const ImageText&)>;

// Opens `name` (already given its default extension) and hands every line that starts with
// `mark` to the handler; the file is passed along for its size and position. Strict hex
// fields that fail raise EConvertError out of the handler, which ends the run.
ImageRead ReadImageLines(Station& st, const std::string& name, char mark,
                         const ImageLineHandler& handler);

}  // namespace ps

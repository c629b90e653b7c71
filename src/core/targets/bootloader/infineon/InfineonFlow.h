// SPDX-License-Identifier: MIT
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace ps {

class Station;

constexpr int InfineonModelIndex = 13;

// Names of the stage programs, looked for in the program's folder and then in the installed
// data folder (images/DataFolder.h).
constexpr const char* InfineonBootFile = "boot32C.hex";
constexpr const char* InfineonLoader1File = "loader1.hex";
constexpr const char* InfineonLoader2File = "loader2.hex";

// "INFINEON XC161CJ" (model 13): climbs the chip's three boot stages, then tests, erases and
// programs its internal flash and the external flash on its bus, page by page, each page
// checked by a 16-bit word sum. The only flow with time limits: a board that does not
// answer in time ends the step with the stage's error (RunError 2). No CONTINUE pause or
// automatic reset of its own.
void InfineonFlow(Station& st);

// True as soon as a received byte is waiting; false when `ms` have passed first on the
// station's clock, or when STOP was pressed (the wait keeps the view alive meanwhile).
bool WaitForByte(Station& st, int ms);

// Compares a flash sector with the image by CRC-32: internal sectors are numbered 100-105
// (for 1-6), external ones 1-11. True only when all four reply bytes came in time and equal
// the image's CRC.
bool SectorTest(Station& st, int sector);

// CRC-32 of image[offset, offset + length), every byte 0x00 or 0xFF left out: the board's
// loader computes its sector CRC the same way.
uint32_t InfineonSectorCrc(const std::vector<uint8_t>& image, uint32_t offset, uint32_t length);

// The 16-bit sum of a page's bytes taken as little-endian words (first byte low).
uint16_t InfineonPageSum(const uint8_t* page, int length);

// Where the stage programs are: the path of each, or "" for a missing one.
struct InfineonStages {
    std::string Boot, Loader1, Loader2;
};
InfineonStages FindInfineonStages(const Station& st);
// A stage program found but without a data byte in the range it is sent from (it would go
// out as 0xFF bytes): the reason, with `path` set to the file; "" when every stage found
// holds data there. Missing stages are the flow's to report.
std::string InfineonStageProblem(const Station& st, std::string& path);
// The stage programs a step of this model cannot find (none for other models).
std::vector<std::string> MissingInfineonStages(const Station& st);

}  // namespace ps

// SPDX-License-Identifier: MIT
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace ps::sim {

class Board;

// A part of a board's memory: where it begins in the board's address space and its bytes.
struct MemoryRegion {
    std::string Name;  // "flash", "eeprom", "memory", ...
    uint64_t Address = 0;
    std::vector<uint8_t> Bytes;
};

// The runs of consecutive addresses of a sparse memory, one region each.
std::vector<MemoryRegion> SparseRegions(const std::string& name,
                                        const std::map<uint32_t, uint8_t>& memory);

// The one-line JSON description of a dump: the board, the binary file, and every region's
// name, address, length and offset in the file.
std::string DumpDescription(const std::string& kind, const std::string& binaryFile,
                            const std::vector<MemoryRegion>& regions);

// Writes the regions' bytes, one after another, to `path` and their description to
// `path` + ".json", each replacing its file only once complete. False with a message.
bool WriteMemoryDump(const std::string& path, const std::string& kind,
                     const std::vector<MemoryRegion>& regions, std::string& error);

// The dump of a board that was asked for one (dump=FILE), as its port closes. A failure
// is said on standard error; the board goes on.
void DumpBoardMemory(const Board& board);

}  // namespace ps::sim

// SPDX-License-Identifier: MIT
#include "sim/MemoryDump.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "projects/AtomicFile.h"
#include "sim/Board.h"

namespace ps::sim {

std::vector<MemoryRegion> SparseRegions(const std::string& name,
                                        const std::map<uint32_t, uint8_t>& memory) {
    std::vector<MemoryRegion> regions;
    for (const auto& [address, byte] : memory) {
        if (regions.empty() || regions.back().Address + regions.back().Bytes.size() != address) {
            regions.push_back({name, address, {}});
        }
        regions.back().Bytes.push_back(byte);
    }
    return regions;
}

namespace {

// A JSON string of a file name or a board kind: quotes, backslashes and control characters
// escaped.
std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\u%04x", u);
            out += hex;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

bool WriteWhole(const std::string& path, const std::string& what, const void* data, size_t count,
                std::string& error) {
    AtomicFile file(path);
    if (file.Open() && file.Write(data, count) && file.Commit()) return true;
    error = "cannot write the " + what + " " + path + ": " + std::strerror(file.Errno());
    return false;
}

}  // namespace

std::string DumpDescription(const std::string& kind, const std::string& binaryFile,
                            const std::vector<MemoryRegion>& regions) {
    std::string out = "{\"board\":" + JsonString(kind) + ",\"file\":" + JsonString(binaryFile);
    uint64_t offset = 0;
    if (regions.size() == 1) {
        out += ",\"address\":" + std::to_string(regions[0].Address) +
               ",\"length\":" + std::to_string(regions[0].Bytes.size());
    }
    out += ",\"regions\":[";
    for (size_t i = 0; i < regions.size(); ++i) {
        const MemoryRegion& r = regions[i];
        out += std::string(i ? "," : "") + "{\"name\":" + JsonString(r.Name) +
               ",\"address\":" + std::to_string(r.Address) +
               ",\"length\":" + std::to_string(r.Bytes.size()) +
               ",\"offset\":" + std::to_string(offset) + "}";
        offset += r.Bytes.size();
    }
    return out + "]}\n";
}

bool WriteMemoryDump(const std::string& path, const std::string& kind,
                     const std::vector<MemoryRegion>& regions, std::string& error) {
    std::vector<uint8_t> bytes;
    for (const MemoryRegion& r : regions) bytes.insert(bytes.end(), r.Bytes.begin(), r.Bytes.end());
    const std::string name = path.substr(path.rfind('/') + 1);
    const std::string description = DumpDescription(kind, name, regions);
    return WriteWhole(path, "memory dump", bytes.data(), bytes.size(), error) &&
           WriteWhole(path + ".json", "dump description", description.data(), description.size(),
                      error);
}

void DumpBoardMemory(const Board& board) {
    if (board.DumpFile.empty()) return;
    std::string error;
    if (!WriteMemoryDump(board.DumpFile, board.Kind(), board.MemoryRegions(), error))
        std::fprintf(stderr, "board %s: %s\n", board.Kind().c_str(), error.c_str());
}

}  // namespace ps::sim

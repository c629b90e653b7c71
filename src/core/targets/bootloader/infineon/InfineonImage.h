// SPDX-License-Identifier: MIT
#pragma once
#include <array>
#include <cstdint>
#include <string>

namespace ps {

class Station;

// The image of an "INFINEON XC161CJ" step: 640 KB, the internal part first (internal flash,
// or the RAM image of a boot stage), then the external flash. One used flag per 256-byte
// page: 0-511 internal pages, 512-2559 external pages.
constexpr int32_t InfineonInternalSize = 0x20000;
constexpr int32_t InfineonExternalSize = 0x80000;
constexpr int32_t InfineonImageSize = InfineonInternalSize + InfineonExternalSize;
constexpr int InfineonPageSize = 256;
constexpr int InfineonInternalPages = InfineonInternalSize / InfineonPageSize;  // 512
constexpr int InfineonExternalPages = InfineonExternalSize / InfineonPageSize;  // 2048
constexpr int InfineonPageCount = InfineonImageSize / InfineonPageSize;         // 2560
constexpr uint32_t InfineonInternalFlash = 0xC00000;  // where the internal flash lies

// Map colours of this step besides the panel's own (0x00BBGGRR).
constexpr uint32_t InfineonGreyColour = 0xF4F4F4;       // cells beyond the internal part
constexpr uint32_t InfineonIdenticalColour = 0x008000;  // page left alone: sector identical
constexpr uint32_t InfineonFailedColour = 0x0000FF;     // page that failed its check

// Flash sectors: offset from the flash's base and length. Sectors are numbered from 1.
struct FlashSector {
    uint32_t Offset;
    uint32_t Length;
};
constexpr int InternalSectorCount = 6;
constexpr int ExternalSectorCount = 11;
constexpr std::array<FlashSector, InternalSectorCount> InternalSectors = {{
    {0x00000, 0x2000},
    {0x02000, 0x2000},
    {0x04000, 0x2000},
    {0x06000, 0x2000},
    {0x08000, 0x8000},
    {0x10000, 0x10000},
}};
constexpr std::array<FlashSector, ExternalSectorCount> ExternalSectors = {{
    {0x00000, 0x4000},
    {0x04000, 0x2000},
    {0x06000, 0x2000},
    {0x08000, 0x8000},
    {0x10000, 0x10000},
    {0x20000, 0x10000},
    {0x30000, 0x10000},
    {0x40000, 0x10000},
    {0x50000, 0x10000},
    {0x60000, 0x10000},
    {0x70000, 0x10000},
}};

// Gives the station's image and page flags their size (0xFF and unused when new).
void EnsureInfineonImage(Station& st);

// The sector (from 1) of an internal page 0..511 and of an external page 0..2047 (counted
// from the start of the external part): the last sector whose start is not above the page.
int InternalSectorOfPage(int page);
int ExternalSectorOfPage(int page);

// How offsets of the image fall on the memory map while an image is loaded: the map's
// cells, the address length they span, and how many cells the internal part takes (the
// external part's cells follow them).
struct InfineonMapScale {
    int64_t AddrLen = 0;  // "/ADDRLEN=" of the step; no cells when 0 or less
    int Cols = 1;
    int Cells = 0;
    int InternalCells = 0;
};
InfineonMapScale InfineonScale(const Station& st, int32_t internalLength, int32_t externalLength);
// The cell of offset o of a part: trunc(o / ADDRLEN x cells).
int InfineonCell(const InfineonMapScale& scale, int64_t offset);
// Paints the cells of offsets first..last of the internal part (external: the cells after
// the internal ones). Cells outside the grid are left alone.
void PaintInfineonCells(Station& st, const InfineonMapScale& scale, bool external, int64_t first,
                        int64_t last, uint32_t colour);

// Reads an Intel HEX file (strict fields; data records and type 04 upper addresses) into the
// station's Infineon image. A byte whose address A lies in [internal base, + internal
// length) goes to offset A - internal base, one in [external base, + external length) to
// 0x20000 + A - external base, and marks its page used; every byte is placed by its own
// address, so a record that runs past the end of its range is cut there: its tail never
// lands in the other part of the image (it goes to the other range only when its own
// address lies there). The parts are filled with 0xFF first as asked, and the
// used flags are cleared. False when the file cannot be used (reported through the
// station: message box, RunError 12) or STOP came first; a field that is not hexadecimal
// raises EConvertError.
bool LoadInfineonHex(Station& st, const std::string& fileName, uint32_t internalBase,
                     bool clearExternal, int32_t externalLength, uint32_t externalBase,
                     bool clearInternal, int32_t internalLength);

}  // namespace ps

// SPDX-License-Identifier: MIT
#pragma once
#include <cstdint>
#include <string>

namespace ps {

class Station;
struct StepSettings;

// The flash of a 91360 board: two 256 KB devices at 0x180000-0x1FFFFF, fourteen sectors
// (64, 64, 64, 32, 8, 8 and 16 KB in each device). Sector i runs from
// Flash91360Sectors[i] to Flash91360Sectors[i + 1] - 1.
constexpr int Flash91360SectorCount = 14;
constexpr int32_t Flash91360Sectors[Flash91360SectorCount + 1] = {
    0x180000, 0x190000, 0x1A0000, 0x1B0000, 0x1B8000, 0x1BA000, 0x1BC000, 0x1C0000,
    0x1D0000, 0x1E0000, 0x1F0000, 0x1F8000, 0x1FA000, 0x1FC000, 0x200000};
constexpr int Flash91360NoSector = 15;
// The sector of an address (0..13), or Flash91360NoSector outside the flash.
int Flash91360Sector(int64_t address);
// "/AUTOERASE" compares, erases and writes whole sectors: the window must start at the
// flash and end on a sector boundary inside it. The number of sectors it covers, 0 when
// it does not fit.
int Sectors91360OfWindow(const StepSettings& step);

// The "91360 LOADER" step: programs the flash through the loader running on the board,
// after erasing all of it ("/ERASEFLASH"), the sectors of a mask ("/ERASESECTORS=") or,
// with "/AUTOERASE", only the sectors whose CRC-32 differs from the image's; then compares
// the CRC of the whole window ("/CHECKSUM"). A refused command ends the run with RunError 1
// ("BREAK"). The image file is read before anything is erased, so a missing or bad file
// never costs the board its program.
void Loader91360Flow(Station& st);

// Loads the image file into TMOT and writes it in runs of at most 200 bytes that never
// cross a sector end. With "/AUTOERASE" only the sectors set in eraseMask are written.
void LoadAndSend91360Loader(Station& st, const std::string& fileName, uint16_t eraseMask);

// The board's CRC-32 of the flash from first to last. Meaningless when RunError is 1
// afterwards.
uint32_t TargetCrc(Station& st, uint32_t first, uint32_t last);

}  // namespace ps

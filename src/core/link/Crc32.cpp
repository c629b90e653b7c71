// SPDX-License-Identifier: MIT
#include "link/Crc32.h"

namespace ps {

std::array<uint32_t, 256> Crc32Table{};

void FillCrc32Table() {
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : (c >> 1);
        Crc32Table[i] = c;
    }
}

}  // namespace ps

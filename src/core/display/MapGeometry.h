// SPDX-License-Identifier: MIT
#pragma once
#include <cstdint>

namespace ps {

// Size of the memory map's block grid. The panel keeps 1..100 rows and 1..200 columns;
// the step loader may compute more rows than that, the panel clamps.
constexpr int MapMaxRows = 100;
constexpr int MapMaxCols = 200;

int ClampMapRows(int rows);
int ClampMapCols(int cols);
int ClampProgress(int percent);

struct MapGeometry {
    int Rows = 8;  // as computed by LoadStep (not yet clamped)
    int Cols = 32;

    int ShownRows() const { return ClampMapRows(Rows); }
    int ShownCols() const { return ClampMapCols(Cols); }
};

// Rows and columns for an address space: columns = blocksOnRow; rows = addrLen / blockLen /
// blocksOnRow rounded half to even, at least 1, plus one row when rows x columns x blockLen
// is still less than addrLen. A blockLen or blocksOnRow of 0 or less describes no grid: it
// gives one column (when blocksOnRow <= 0) and one row (when blockLen <= 0). Rows never
// exceed MapRowsLimit. Rows x Cols can pass the 32-bit range: multiply in 64 bits.
constexpr int MapRowsLimit = 0x7FFFFFFF;
MapGeometry SizeMap(int32_t addrLen, int32_t blockLen, int32_t blocksOnRow);

}  // namespace ps

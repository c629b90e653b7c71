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
    int Rows = 8;   // as computed by LoadStep (not yet clamped)
    int Cols = 32;

    int ShownRows() const { return ClampMapRows(Rows); }
    int ShownCols() const { return ClampMapCols(Cols); }
};

// Rows and columns for an address space: columns = blocksOnRow; rows = addrLen / blockLen /
// blocksOnRow rounded half to even, at least 1, plus one row while the grid is too small.
MapGeometry SizeMap(int32_t addrLen, int32_t blockLen, int32_t blocksOnRow);

}  // namespace ps

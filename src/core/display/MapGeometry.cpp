// SPDX-License-Identifier: MIT
#include "display/MapGeometry.h"

#include <cmath>

namespace ps {

int ClampMapRows(int rows) {
    return rows < 1 ? 1 : (rows > MapMaxRows ? MapMaxRows : rows);
}
int ClampMapCols(int cols) {
    return cols < 1 ? 1 : (cols > MapMaxCols ? MapMaxCols : cols);
}
int ClampProgress(int percent) {
    return percent < 0 ? 0 : (percent > 100 ? 100 : percent);
}

namespace {

// Nearest integer, halves to the even neighbour, whatever the floating-point rounding mode.
double RoundHalfEven(double x) {
    double down = std::floor(x);
    double diff = x - down;
    if (diff > 0.5) return down + 1;
    if (diff < 0.5) return down;
    return std::fmod(down, 2.0) == 0.0 ? down : down + 1;
}

}  // namespace

MapGeometry SizeMap(int32_t addrLen, int32_t blockLen, int32_t blocksOnRow) {
    MapGeometry map;
    // A step file may hold any number here. Zero or negative sizes cannot divide the
    // address space, so they give the smallest grid instead of a division by zero: one
    // column for blocksOnRow <= 0, one row for blockLen <= 0.
    map.Cols = blocksOnRow > 0 ? blocksOnRow : 1;
    if (blockLen <= 0) {
        map.Rows = 1;
        return map;
    }
    const double exact = static_cast<double>(addrLen) / blockLen / map.Cols;
    double rows = RoundHalfEven(exact);
    if (rows < 1) rows = 1;
    // rows is at most exact + 0.5 (or 1), so rows * cols * blockLen stays below
    // addrLen + cols * blockLen < 2^63: the test is exact in 64-bit integers.
    int64_t r = static_cast<int64_t>(rows);
    if (r * map.Cols * static_cast<int64_t>(blockLen) < addrLen) ++r;
    map.Rows = r > MapRowsLimit ? MapRowsLimit : static_cast<int>(r);
    return map;
}

}  // namespace ps

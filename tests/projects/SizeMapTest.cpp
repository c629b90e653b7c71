// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <climits>

#include "display/MapGeometry.h"

namespace ps {
namespace {

TEST(SizeMapTest, RowsRoundHalfToEvenAndCoverTheAddressSpace) {
    struct {
        int32_t AddrLen, BlockLen, BlocksOnRow;
        int Rows, Cols;
    } cases[] = {
        {10000, 2048, 16, 1, 16},  // 0.3 rows: at least one, and one covers it
        {0, 2048, 16, 1, 16},      // no address space: one row
        {-5000, 2048, 16, 1, 16}, {262144, 1024, 32, 8, 32},  // exact
        {5 * 256, 128, 4, 3, 4},   // 2.5 rounds to 2 (even), which is too small: 3
        {7 * 256, 128, 4, 4, 4},   // 3.5 rounds to 4
        {11 * 128, 128, 4, 3, 4},  // 2.75 rounds to 3, which covers 12 blocks
        {9 * 128, 128, 4, 3, 4},   // 2.25 rounds to 2, which is too small: 3
        {3 * 256, 128, 4, 2, 4},   // 1.5 rounds to 2, which covers it
    };
    for (const auto& c : cases) {
        MapGeometry m = SizeMap(c.AddrLen, c.BlockLen, c.BlocksOnRow);
        EXPECT_EQ(m.Rows, c.Rows) << c.AddrLen << "/" << c.BlockLen << "/" << c.BlocksOnRow;
        EXPECT_EQ(m.Cols, c.Cols) << c.AddrLen << "/" << c.BlockLen << "/" << c.BlocksOnRow;
    }
}

TEST(SizeMapTest, NonsenseSizesGiveTheSmallestGridWithoutFaults) {
    MapGeometry zeroBlock = SizeMap(100000, 0, 16);
    EXPECT_EQ(zeroBlock.Rows, 1);
    EXPECT_EQ(zeroBlock.Cols, 16);
    MapGeometry negBlock = SizeMap(100000, -2048, 16);
    EXPECT_EQ(negBlock.Rows, 1);
    MapGeometry zeroCols = SizeMap(4096, 1024, 0);
    EXPECT_EQ(zeroCols.Cols, 1);
    EXPECT_EQ(zeroCols.Rows, 4);
    MapGeometry negCols = SizeMap(4096, 1024, INT32_MIN);
    EXPECT_EQ(negCols.Cols, 1);
    EXPECT_EQ(negCols.Rows, 4);

    // Extremes stay in range and still cover the address space.
    MapGeometry most = SizeMap(INT32_MAX, 1, 1);
    EXPECT_EQ(most.Rows, INT32_MAX);
    MapGeometry wide = SizeMap(INT32_MAX, INT32_MAX, INT32_MAX);
    EXPECT_EQ(wide.Rows, 1);
    EXPECT_EQ(wide.Cols, INT32_MAX);
    MapGeometry sixteen = SizeMap(INT32_MAX, 1, 16);
    EXPECT_GE(static_cast<int64_t>(sixteen.Rows) * sixteen.Cols, INT32_MAX);
    EXPECT_EQ(sixteen.ShownRows(), MapMaxRows);
}

}  // namespace
}  // namespace ps

// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>

#include "Map1.h"
#include "display/StationView.h"

using namespace ps::gui;

namespace {

// Paints everything a real screen would show, so layout and label placement have run.
void ShowAndPaint(QWidget& w) {
    w.show();
    QApplication::processEvents();
    (void)w.grab();
}

}  // namespace

TEST(Map1, StartsWithItsDefaults) {
    TMap1 map;
    EXPECT_EQ(map.width(), 400);
    EXPECT_EQ(map.height(), 200);
    EXPECT_TRUE(map.GaugeVisible() && map.FileNameVisible() && map.StatusVisible() &&
                map.MapVisible() && map.BytesVisible());
    EXPECT_EQ(map.Rows(), 8);
    EXPECT_EQ(map.Cols(), 32);
    EXPECT_EQ(map.Progress(), 0);
    EXPECT_EQ(map.StatusText(), QString("Status"));
    EXPECT_EQ(map.FileNameText(), QString("FileName"));
    EXPECT_EQ(map.ColorStatus(), 0xC0C0C0u);
    EXPECT_EQ(map.ColorFileName(), 0xC0C0C0u);
    EXPECT_EQ(map.ColorBytes(), 0xC0C0C0u);
    EXPECT_EQ(map.GetBlock(0, 0), 0xFFFFFFu);
    EXPECT_EQ(map.GetBlock(99, 199), 0xFFFFFFu);
    EXPECT_EQ(map.ByteLabelCount(), 9);  // the total and one per row
}

TEST(Map1, KeepsRowsColumnsAndProgressInRange) {
    TMap1 map;
    struct Case {
        int rows, cols, progress;
        int wantRows, wantCols, wantProgress;
    };
    for (Case c : {Case{0, 0, -5, 1, 1, 0}, Case{500, 1000, 250, 100, 200, 100},
                   Case{37, 150, 42, 37, 150, 42}, Case{100, 200, 100, 100, 200, 100}}) {
        map.SetRows(c.rows);
        map.SetCols(c.cols);
        map.SetProgress(c.progress);
        EXPECT_EQ(map.Rows(), c.wantRows) << c.rows;
        EXPECT_EQ(map.Cols(), c.wantCols) << c.cols;
        EXPECT_EQ(map.Progress(), c.wantProgress) << c.progress;
        EXPECT_EQ(map.ByteLabelCount(), c.wantRows + 1);
    }
}

TEST(Map1, SetBlockClampsAndRepaintsOnlyOnChange) {
    TMap1 map;
    map.SetRows(100);
    map.SetCols(200);
    ShowAndPaint(map);

    map.SetBlock(150, -3, ps::ProgrammedColour);
    EXPECT_EQ(map.GetBlock(99, 0), 0x80FD9Fu);
    EXPECT_EQ(map.GetBlock(150, -3), 0x80FD9Fu);
    EXPECT_EQ(map.GetBlock(0, 0), 0xFFFFFFu);

    int before = map.BlockRepaints();
    map.SetBlock(3, 4, ps::LoadedColour);
    map.SetBlock(3, 4, ps::LoadedColour);
    EXPECT_EQ(map.BlockRepaints(), before + 1);
    map.SetBlock(3, 4, ps::ProgrammedColour);
    EXPECT_EQ(map.BlockRepaints(), before + 2);

    // Clearing forgets every colour without painting; writing a colour again paints it.
    int afterWrites = map.BlockRepaints();
    map.ClearBlocks();
    EXPECT_EQ(map.BlockRepaints(), afterWrites);
    EXPECT_EQ(map.GetBlock(3, 4), 0xFFFFFFu);
    EXPECT_EQ(map.GetBlock(99, 0), 0xFFFFFFu);
    map.SetBlock(3, 4, ps::ProgrammedColour);
    EXPECT_EQ(map.BlockRepaints(), afterWrites + 1);
}

TEST(Map1, GridShowsBlockColoursAndRings) {
    TMap1 map;
    map.resize(600, 300);
    map.SetRows(4);
    map.SetCols(8);
    map.SetBlock(1, 2, ps::ProgrammedColour);
    ShowAndPaint(map);
    QImage img = map.CanvasMap()->grab().toImage();
    double w = (img.width() - 1) / 8.0, h = (img.height() - 1) / 4.0;
    // Near the cell's corner: the block's colour. In the ring's box: some green.
    QColor corner = img.pixelColor(static_cast<int>(2 * w) + 1, static_cast<int>(1 * h) + 1);
    EXPECT_EQ(FromQColor(corner), 0x80FD9Fu);
    QColor other = img.pixelColor(static_cast<int>(5 * w) + 1, static_cast<int>(3 * h) + 1);
    EXPECT_EQ(FromQColor(other), 0xFFFFFFu);
    bool ring = false;
    for (int x = static_cast<int>(2 * w + 2 * w / 5) - 1;
         x <= static_cast<int>(2 * w + 3 * w / 5) + 1; ++x) {
        for (int y = static_cast<int>(h + 2 * h / 5) - 1; y <= static_cast<int>(h + 3 * h / 5) + 1;
             ++y) {
            if (img.valid(x, y) && FromQColor(img.pixelColor(x, y)) == 0x008000u) ring = true;
        }
    }
    EXPECT_TRUE(ring);

    // Hiding the grid keeps the blocks: they show again with it.
    map.SetMapVisible(false);
    EXPECT_FALSE(map.CanvasMap()->isVisible());
    EXPECT_TRUE(map.Gauge()->isVisible());
    EXPECT_TRUE(map.StatusLab()->isVisible());
    map.SetMapVisible(true);
    EXPECT_EQ(map.GetBlock(1, 2), 0x80FD9Fu);
}

TEST(Map1, ByteLabelsAreUnseenWhenRowsAreTooSmall) {
    TMap1 map;
    map.resize(400, 300);
    map.SetRows(4);
    map.SetByteLabel(0, "1024");
    map.SetByteLabel(4, "256");
    map.SetByteLabel(5, "no such label");  // ignored
    ShowAndPaint(map);
    ASSERT_EQ(map.ByteLabelCount(), 5);
    EXPECT_EQ(map.ByteLabel(4)->text(), QString("256"));
    EXPECT_EQ(map.ByteLabelTextColour(0), 0x008000u);
    EXPECT_EQ(map.ByteLabelTextColour(4), 0x008000u);
    EXPECT_EQ(map.ByteLabel(4)->alignment() & Qt::AlignRight, Qt::AlignRight);
    // Row labels sit in their rows, top to bottom.
    EXPECT_LT(map.ByteLabel(1)->y(), map.ByteLabel(2)->y());

    map.SetRows(100);
    map.SetByteLabel(50, "12");
    ShowAndPaint(map);
    ASSERT_EQ(map.ByteLabelCount(), 101);
    EXPECT_EQ(map.ByteLabel(50)->text(), QString("12"));
    EXPECT_EQ(map.ByteLabelTextColour(50), map.ColorBytes());
    EXPECT_EQ(map.ByteLabelTextColour(0), 0x008000u);  // the total still shows

    map.SetGaugeVisible(false);
    ShowAndPaint(map);
    EXPECT_EQ(map.ByteLabelTextColour(0), map.ColorBytes());
}

TEST(Map1, GaugeAndStripsFollowTheirSettings) {
    TMap1 map;
    map.SetProgress(40);
    ShowAndPaint(map);
    QImage gauge = map.Gauge()->grab().toImage();
    EXPECT_EQ(FromQColor(gauge.pixelColor(1, 1)), 0xFFAAAAu);
    EXPECT_EQ(ToQColor(0xFFAAAAu), QColor(0xAA, 0xAA, 0xFF));  // light blue
    EXPECT_EQ(FromQColor(gauge.pixelColor(gauge.width() - 2, 1)), ClWhite);

    // A larger status font makes its strip taller: the strip is the label's height plus 2.
    QFont big = map.StatusFont();
    big.setPixelSize(30);
    map.SetStatusFont(big);
    EXPECT_EQ(map.StatusLab()->parentWidget()->height(), map.StatusLab()->height() + 2);
    EXPECT_GE(map.StatusLab()->height(), 30);
}

TEST(Map1, InnerPartsGetNamesUniqueOnTheirForm) {
    QWidget form;
    TMap1 first(&form);
    TMap1 second(&form);
    EXPECT_NE(form.findChild<QWidget*>("StatusPanel1"), nullptr);
    EXPECT_NE(form.findChild<QWidget*>("StatusPanel2"), nullptr);
    EXPECT_EQ(first.StatusLab()->objectName(), QString("StatusLab1"));
    EXPECT_EQ(second.StatusLab()->objectName(), QString("StatusLab2"));
    EXPECT_EQ(second.CanvasMap()->objectName(), QString("CanvasMap2"));
}

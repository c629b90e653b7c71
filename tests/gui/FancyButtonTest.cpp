// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <QApplication>
#include <QSignalSpy>
#include <QTest>
#include <cmath>

#include "FancyButton.h"

using namespace ps::gui;

TEST(FancyButton, StartsWithItsDefaults) {
    TFancyButton b;
    EXPECT_EQ(b.size(), QSize(97, 25));
    EXPECT_EQ(b.FrameColor(), 0x808080u);
    EXPECT_EQ(b.FrameWidth(), 6);
    EXPECT_EQ(b.CornerRadius(), 10);
    EXPECT_EQ(b.Shape(), shRoundRect);
    EXPECT_EQ(b.TextStyle(), txRaised);
    EXPECT_TRUE(b.isEnabled());
}

TEST(FancyButton, FrameWidthAndCornerRadiusStayWithinTheButton) {
    TFancyButton b;  // 97 x 25
    struct Case {
        int set, want;
    };
    for (Case c : {Case{1, 4}, Case{20, 12}, Case{7, 7}, Case{-3, 4}}) {
        b.SetFrameWidth(c.set);
        EXPECT_EQ(b.FrameWidth(), c.want) << c.set;
    }
    for (Case c : {Case{100, 25}, Case{0, 3}, Case{12, 12}}) {
        b.SetCornerRadius(c.set);
        EXPECT_EQ(b.CornerRadius(), c.want) << c.set;
    }
}

TEST(FancyButton, ClicksOnlyInsideItsShape) {
    QWidget host;
    host.resize(200, 100);
    TFancyButton b(&host);
    b.move(10, 10);
    b.SetCornerRadius(12);
    b.setText("&Go");
    host.show();
    QApplication::processEvents();
    QSignalSpy clicks(&b, &QAbstractButton::clicked);

    QTest::mouseClick(&b, Qt::LeftButton, {}, QPoint(1, 1));  // corner, outside the curve
    EXPECT_EQ(clicks.count(), 0);
    QTest::mouseClick(&b, Qt::LeftButton, {}, QPoint(96, 24));
    EXPECT_EQ(clicks.count(), 0);
    QTest::mouseClick(&b, Qt::LeftButton, {}, QPoint(48, 12));  // the middle
    EXPECT_EQ(clicks.count(), 1);

    // A rectangle has no corners to miss.
    b.SetShape(shRectangle);
    QTest::mouseClick(&b, Qt::LeftButton, {}, QPoint(1, 1));
    EXPECT_EQ(clicks.count(), 2);

    // The oval misses its corners too.
    b.SetShape(shOval);
    QTest::mouseClick(&b, Qt::LeftButton, {}, QPoint(2, 2));
    EXPECT_EQ(clicks.count(), 2);

    b.setEnabled(false);
    QTest::mouseClick(&b, Qt::LeftButton, {}, QPoint(48, 12));
    EXPECT_EQ(clicks.count(), 2);
}

TEST(FancyButton, PressedWhileTheMouseIsDown) {
    QWidget host;
    TFancyButton b(&host);
    host.show();
    QApplication::processEvents();
    QTest::mousePress(&b, Qt::LeftButton, {}, QPoint(48, 12));
    EXPECT_TRUE(b.Pressed());
    QTest::mouseRelease(&b, Qt::LeftButton, {}, QPoint(48, 12));
    EXPECT_FALSE(b.Pressed());
}

TEST(FancyButton, NeverShowsLargerThan145) {
    QWidget host;
    host.resize(400, 300);
    TFancyButton b(&host);
    b.resize(200, 180);
    host.show();
    QApplication::processEvents();
    (void)host.grab();
    QApplication::processEvents();
    EXPECT_EQ(b.width(), 145);
    EXPECT_EQ(b.height(), 145);
}

TEST(FancyButton, SettingTheSameValueDoesNotRepaint) {
    TFancyButton b;
    (void)b.grab();
    int painted = b.RepaintCount();
    b.SetShape(b.Shape());
    b.SetTextStyle(b.TextStyle());
    b.SetButtonColor(b.ButtonColor());
    b.SetFrameColor(b.FrameColor());
    (void)b.grab();  // grab paints once by itself
    EXPECT_EQ(b.RepaintCount(), painted + 1);
}

TEST(FancyButton, GradedFrameRunsFromFrameColourToButtonColour) {
    TFancyButton b;
    b.resize(97, 40);
    b.SetShape(shRectangle);
    b.SetButtonColor(0xFFFFFF);
    b.SetFrameColor(0x000000);
    b.SetFrameWidth(8);
    b.setText("");
    QImage img = b.grab().toImage();
    // Inset 1 is the darkest ring, inset 8 is near the face colour; the face is white.
    int y = 20;
    int outer = img.pixelColor(1, y).red();
    int inner = img.pixelColor(8, y).red();
    EXPECT_LT(outer, inner);
    EXPECT_EQ(img.pixelColor(48, y), QColor(Qt::white));
}

TEST(FancyButton, AcceleratorClicksAnEnabledButton) {
    QWidget host;
    TFancyButton b(&host);
    b.setText("&Go");
    host.show();
    host.activateWindow();
    for (int i = 0; i < 1000 && !host.isActiveWindow(); ++i) QApplication::processEvents();
    QSignalSpy clicks(&b, &QAbstractButton::clicked);
    // Through the window, as the platform delivers keys, so the shortcut map sees them.
    QTest::keyClick(host.windowHandle(), Qt::Key_G, Qt::AltModifier);
    // The button shows itself pressed at once and clicks when the press look has been seen;
    // the wait's limit only guards against a hang.
    EXPECT_TRUE(b.Pressed());
    EXPECT_TRUE(clicks.count() == 1 || clicks.wait(10000));
    EXPECT_EQ(clicks.count(), 1);
    b.setEnabled(false);
    QTest::keyClick(host.windowHandle(), Qt::Key_G, Qt::AltModifier);
    QApplication::processEvents();
    EXPECT_EQ(clicks.count(), 1);
}

TEST(FancyButton, NeverTakesFocusAndOnlyItsAcceleratorClicksFromTheKeyboard) {
    QWidget host;
    TFancyButton b(&host);
    b.setText("&Go");
    host.show();
    QApplication::processEvents();
    EXPECT_EQ(b.focusPolicy(), Qt::NoFocus);
    QSignalSpy clicks(&b, &QAbstractButton::clicked);
    // Even keys handed to the button itself press nothing.
    for (Qt::Key key : {Qt::Key_Space, Qt::Key_Return, Qt::Key_Enter, Qt::Key_Select, Qt::Key_Up,
                        Qt::Key_Down, Qt::Key_Left, Qt::Key_Right}) {
        QTest::keyClick(&b, key);
        QApplication::processEvents();
        EXPECT_FALSE(b.Pressed()) << key;
    }
    EXPECT_EQ(clicks.count(), 0);
}

// Ring i of the frame is the shape inset by i + 1 with corner ellipses of 2 * (r - i), r the
// shape's own corner radius. On a corner's diagonal a rounded box from `inset` with radius
// `radius` begins at inset + radius * (1 - 1/sqrt 2); a ring one pixel too tight begins
// about 0.3 pixels sooner.
TEST(FancyButton, FrameRingsFollowTheShapesCorners) {
    TFancyButton b;  // 97 x 25, frame width 6
    struct Case {
        TShape shape;
        int radius;  // of the shape itself
    };
    for (Case c : {Case{shRoundRect, 10}, Case{shCapsule, 12}}) {
        b.SetShape(c.shape);
        for (int i = 0; i < b.FrameWidth(); ++i) {
            const double edge = (i + 1) + (c.radius - i) * (1 - 1 / std::sqrt(2.0));
            const QPainterPath ring = b.RingPath(i);
            EXPECT_FALSE(ring.contains(QPointF(edge - 0.15, edge - 0.15))) << c.shape << " " << i;
            EXPECT_TRUE(ring.contains(QPointF(edge + 0.15, edge + 0.15))) << c.shape << " " << i;
            EXPECT_EQ(ring.boundingRect(),
                      QRectF(i + 1, i + 1, 97 - 2 * (i + 1), 25 - 2 * (i + 1)));
        }
    }
}

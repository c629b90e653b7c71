// SPDX-License-Identifier: MIT
#pragma once
#include <QAbstractButton>
#include <QPainterPath>
#include <QRegion>

#include "Colours.h"

namespace ps::gui {

enum TShape { shCapsule, shOval, shRectangle, shRoundRect };
enum TTextStyle { txNone, txLowered, txRaised, txShadowed };

// The curved-corner push button: a filled shape with a frame graded from FrameColor at the
// rim to ButtonColor inside, a caption with a text effect, and clicks only inside the shape.
// The first "&" of the caption marks its accelerator (Alt + letter).
//
// It never takes the keyboard focus and no key but its accelerator clicks it: when START
// hides for a run, a focus passed on to EXIT would let a Space bar press end the run and
// the program.
class TFancyButton : public QAbstractButton {
    Q_OBJECT
public:
    static constexpr int DefaultWidth = 97;
    static constexpr int DefaultHeight = 25;
    static constexpr int MaxSide = 145;
    static constexpr int MinFrameWidth = 4;
    static constexpr int MinCornerRadius = 3;
    static constexpr TColor DefaultFrameColor = ClGrey;

    explicit TFancyButton(QWidget* parent = nullptr);

    TColor ButtonColor() const { return buttonColor_; }
    void SetButtonColor(TColor colour);
    TColor FrameColor() const { return frameColor_; }
    void SetFrameColor(TColor colour);
    int FrameWidth() const { return frameWidth_; }
    void SetFrameWidth(int width);  // at least 4, at most half the smaller side
    int CornerRadius() const { return cornerRadius_; }
    void SetCornerRadius(int radius);  // at least 3, at most the smaller side
    TShape Shape() const { return shape_; }
    void SetShape(TShape shape);
    TTextStyle TextStyle() const { return textStyle_; }
    void SetTextStyle(TTextStyle style);
    QString Caption() const { return text(); }
    void SetCaption(const QString& caption) { setText(caption); }
    bool Pressed() const { return isDown(); }

    // The region of the shape at the current size: where a press counts.
    QRegion ShapeRegion() const;
    // Ring i (0 .. frame width - 1) of the graded frame: the shape inset by i + 1 on every
    // side, its corner ellipses shrunk by 2 * i (a plain rectangle once they vanish).
    QPainterPath RingPath(int ring) const;
    int RepaintCount() const { return repaints_; }

    QSize sizeHint() const override { return QSize(DefaultWidth, DefaultHeight); }

protected:
    void paintEvent(QPaintEvent* event) override;
    bool hitButton(const QPoint& pos) const override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    // The outline inset by `inset` pixels, its corner radius reduced by `shrink`.
    QPainterPath ShapePath(int inset, int shrink) const;

    TColor buttonColor_;
    TColor frameColor_ = DefaultFrameColor;
    int frameWidth_ = 6;
    int cornerRadius_ = 10;
    TShape shape_ = shRoundRect;
    TTextStyle textStyle_ = txRaised;
    int repaints_ = 0;
};

}  // namespace ps::gui

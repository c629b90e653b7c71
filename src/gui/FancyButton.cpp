// SPDX-License-Identifier: MIT
#include "FancyButton.h"

#include <QEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

namespace ps::gui {

TFancyButton::TFancyButton(QWidget* parent)
    : QAbstractButton(parent), buttonColor_(FromQColor(palette().color(QPalette::Button))) {
    resize(DefaultWidth, DefaultHeight);
    setFocusPolicy(Qt::NoFocus);
}

void TFancyButton::SetButtonColor(TColor colour) {
    if (colour == buttonColor_) return;
    buttonColor_ = colour;
    update();
}

void TFancyButton::SetFrameColor(TColor colour) {
    if (colour == frameColor_) return;
    frameColor_ = colour;
    update();
}

// The frame is drawn inward from every side, so it can be at most half of the smaller side.
void TFancyButton::SetFrameWidth(int w) {
    if (w < MinFrameWidth) w = MinFrameWidth;
    int limit = std::min(width(), height()) / 2;
    if (w > limit) w = limit;
    if (w == frameWidth_) return;
    frameWidth_ = w;
    update();
}

void TFancyButton::SetCornerRadius(int r) {
    if (r < MinCornerRadius) r = MinCornerRadius;
    int limit = std::min(width(), height());
    if (r > limit) r = limit;
    if (r == cornerRadius_) return;
    cornerRadius_ = r;
    update();
}

void TFancyButton::SetShape(TShape shape) {
    if (shape == shape_) return;
    shape_ = shape;
    update();
}

void TFancyButton::SetTextStyle(TTextStyle style) {
    if (style == textStyle_) return;
    textStyle_ = style;
    update();
}

void TFancyButton::changeEvent(QEvent* event) {
    if (event->type() == QEvent::EnabledChange) update();
    QAbstractButton::changeEvent(event);
}

void TFancyButton::keyPressEvent(QKeyEvent* event) {
    event->ignore();  // Space, Enter and the arrows never press it
}

void TFancyButton::keyReleaseEvent(QKeyEvent* event) {
    event->ignore();
}

// The outline of the shape, inset by `inset` pixels on every side, its corner radius
// reduced by `shrink`. Corner ellipses give way to a plain rectangle once they vanish.
QPainterPath TFancyButton::ShapePath(int inset, int shrink) const {
    QPainterPath path;
    QRectF box(inset, inset, width() - 2 * inset, height() - 2 * inset);
    if (box.width() <= 0 || box.height() <= 0) return path;
    switch (shape_) {
        case shOval:
            path.addEllipse(box);
            break;
        case shRectangle:
            path.addRect(box);
            break;
        case shCapsule: {
            double radius = std::min(width(), height()) / 2 - shrink;
            if (radius > 0) {
                path.addRoundedRect(box, radius, radius);
            } else {
                path.addRect(box);
            }
            break;
        }
        case shRoundRect: {
            double radius = cornerRadius_ - shrink;
            if (radius > 0) {
                path.addRoundedRect(box, radius, radius);
            } else {
                path.addRect(box);
            }
            break;
        }
    }
    return path;
}

QRegion TFancyButton::ShapeRegion() const {
    if (shape_ == shRectangle) return QRegion(0, 0, width() - 1, height() - 1);
    QPainterPath path;
    QRectF box(0, 0, width(), height());
    if (shape_ == shOval) {
        path.addEllipse(box);
    } else {
        double corner = shape_ == shCapsule ? std::min(width(), height()) : 2.0 * cornerRadius_;
        path.addRoundedRect(box, corner / 2, corner / 2);
    }
    return QRegion(path.toFillPolygon().toPolygon());
}

QPainterPath TFancyButton::RingPath(int ring) const {
    QPainterPath path = ShapePath(ring + 1, ring);
    if (shape_ != shRectangle) return path;
    // The rectangle's right and bottom edges sit one pixel further in.
    QRectF box = path.boundingRect().adjusted(0, 0, -1, -1);
    QPainterPath inner;
    if (box.width() > 0 && box.height() > 0) inner.addRect(box);
    return inner;
}

bool TFancyButton::hitButton(const QPoint& pos) const {
    return ShapeRegion().contains(pos);
}

void TFancyButton::paintEvent(QPaintEvent*) {
    ++repaints_;
    const bool pressed = isDown();
    QPainter p(this);
    const QColor face = ToQColor(buttonColor_);
    const QColor shadow = palette().color(QPalette::Dark);
    const QColor highlight = palette().color(QPalette::Light);

    QRegion region = ShapeRegion();
    p.setClipRegion(region);
    p.fillRect(rect(), face);

    // Edge: one outline in one colour, the same outline moved by (1, 1) in the other.
    QPainterPath outline = ShapePath(0, 0);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(pressed ? shadow : highlight, 1));
    p.drawPath(outline);
    p.setPen(QPen(pressed ? highlight : shadow, 1));
    p.drawPath(outline.translated(1, 1));

    // Graded frame along a quarter circle: pale toward the face, FrameColor at the rim.
    int n = frameWidth_ + (frameWidth_ % 2);
    for (int i = 0; i < n; ++i) {
        double c = std::sqrt(static_cast<double>(n * n - (n - i) * (n - i)));
        auto part = [&](int shift) {
            int framePart = static_cast<int>((frameColor_ >> shift) & 0xFF);
            int buttonPart = static_cast<int>((buttonColor_ >> shift) & 0xFF);
            return framePart + static_cast<int>(std::trunc(c * (buttonPart - framePart) / n));
        };
        TColor colour = static_cast<TColor>(part(0)) | (static_cast<TColor>(part(8)) << 8) |
                        (static_cast<TColor>(part(16)) << 16);
        p.setPen(QPen(ToQColor(colour), 1));
        p.drawPath(RingPath(i));
    }

    // Caption: an effect layer, then the text itself, nudged with the pressed look.
    p.setClipping(false);
    p.setFont(font());
    const int flags = Qt::AlignCenter | Qt::TextShowMnemonic | Qt::TextSingleLine;
    auto drawAt = [&](int dx, int dy, const QColor& colour) {
        p.setPen(colour);
        p.drawText(rect().translated(dx, dy), flags, text());
    };
    switch (textStyle_) {
        case txRaised:
            drawAt(pressed ? 2 : 0, pressed ? 2 : 0, highlight);
            break;
        case txLowered:
            drawAt(pressed ? 0 : 2, pressed ? 0 : 2, highlight);
            break;
        case txShadowed:
            drawAt(pressed ? 4 : 3, pressed ? 4 : 3, shadow);
            break;
        case txNone:
            break;
    }
    QColor main;
    if (isEnabled()) {
        main = pressed ? ToQColor(frameColor_) : palette().color(QPalette::ButtonText);
    } else {
        main = textStyle_ == txShadowed ? palette().color(QPalette::Button) : shadow;
    }
    drawAt(pressed ? 1 : -1, pressed ? 1 : -1, main);

    // The button is never larger than this; a bigger size is cut once it has been shown.
    if (width() > MaxSide || height() > MaxSide) {
        resize(std::min(width(), MaxSide), std::min(height(), MaxSide));
    }
}

}  // namespace ps::gui

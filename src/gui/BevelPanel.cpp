// SPDX-License-Identifier: MIT
#include "BevelPanel.h"

#include <QPainter>

namespace ps::gui {

TBevelPanel::TBevelPanel(QWidget* parent)
    : QWidget(parent), colour_(FromQColor(palette().color(QPalette::Window))) {
    setAutoFillBackground(false);
}

void TBevelPanel::SetBevels(Bevel outer, Bevel inner, int bevelWidth, int borderWidth) {
    outer_ = outer;
    inner_ = inner;
    bevelWidth_ = bevelWidth;
    borderWidth_ = borderWidth;
    int f = FrameSize();
    setContentsMargins(f, f, f, f);
    update();
}

void TBevelPanel::SetColor(TColor colour) {
    colour_ = colour;
    hasColour_ = true;
    update();
}

int TBevelPanel::FrameSize() const {
    return (outer_ != bvNone ? bevelWidth_ : 0) + borderWidth_ +
           (inner_ != bvNone ? bevelWidth_ : 0);
}

void TBevelPanel::DrawBevel(QPainter& p, QRect& r, Bevel bevel) {
    if (bevel == bvNone) return;
    QColor light = palette().color(QPalette::Light);
    QColor dark = palette().color(QPalette::Dark);
    QColor topLeft = bevel == bvRaised ? light : dark;
    QColor bottomRight = bevel == bvRaised ? dark : light;
    for (int i = 0; i < bevelWidth_; ++i) {
        p.setPen(topLeft);
        p.drawLine(r.left(), r.top(), r.right(), r.top());
        p.drawLine(r.left(), r.top(), r.left(), r.bottom());
        p.setPen(bottomRight);
        p.drawLine(r.left(), r.bottom(), r.right(), r.bottom());
        p.drawLine(r.right(), r.top(), r.right(), r.bottom());
        r.adjust(1, 1, -1, -1);
    }
}

void TBevelPanel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    QColor face = hasColour_ ? ToQColor(colour_) : palette().color(QPalette::Window);
    p.fillRect(rect(), face);
    QRect r = rect();
    DrawBevel(p, r, outer_);
    r.adjust(borderWidth_, borderWidth_, -borderWidth_, -borderWidth_);
    DrawBevel(p, r, inner_);
}

}  // namespace ps::gui

// SPDX-License-Identifier: MIT
#include "Logo.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace ps::gui {

namespace {

void DrawChip(QPainter& p, const QRectF& body) {
    // Pins on the long sides, then the body over them.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(225, 225, 235));
    const int pins = 6;
    double step = body.width() / (pins + 1);
    for (int i = 1; i <= pins; ++i) {
        double x = body.left() + i * step - 2;
        p.drawRect(QRectF(x, body.top() - 6, 4, 6));
        p.drawRect(QRectF(x, body.bottom(), 4, 6));
    }
    QLinearGradient shade(body.topLeft(), body.bottomLeft());
    shade.setColorAt(0, QColor(60, 60, 80));
    shade.setColorAt(1, QColor(20, 20, 35));
    p.setBrush(shade);
    p.setPen(QPen(QColor(230, 230, 255), 1));
    p.drawRoundedRect(body, 3, 3);
    p.setBrush(QColor(230, 230, 255));
    p.setPen(Qt::NoPen);
    p.drawEllipse(QPointF(body.left() + 6, body.top() + 6), 2, 2);
}

void DrawBytes(QPainter& p, double x, double y) {
    // A row of ones and zeros flowing into the chip, fading in toward it.
    const char* bits = "10110010";
    QFont f("DejaVu Sans Mono");
    f.setPixelSize(11);
    f.setBold(true);
    p.setFont(f);
    for (int i = 0; bits[i]; ++i) {
        p.setPen(QColor(255, 255, 255, 90 + 20 * i));
        p.drawText(QPointF(x + i * 8, y), QString(QChar(bits[i])));
    }
    QPainterPath arrow;
    double ax = x + 66;
    arrow.moveTo(ax, y - 8);
    arrow.lineTo(ax + 10, y - 4);
    arrow.lineTo(ax, y);
    arrow.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 230));
    p.drawPath(arrow);
}

}  // namespace

QPixmap MakeLogo() {
    QPixmap pix(LogoWidth, LogoHeight);
    pix.fill(Qt::transparent);
    QPainter p(&pix);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);

    DrawBytes(p, 8, 32);
    DrawChip(p, QRectF(92, 12, 58, 30));

    QFont name("DejaVu Sans");
    name.setPixelSize(34);
    name.setBold(true);
    name.setItalic(true);
    QPainterPath text;
    text.addText(QPointF(166, 39), name, "ProgStation");
    p.setPen(QPen(QColor(10, 10, 90), 3));
    p.setBrush(Qt::NoBrush);
    p.drawPath(text);
    p.setPen(Qt::NoPen);
    QLinearGradient fill(0, 8, 0, 44);
    fill.setColorAt(0, QColor(255, 255, 255));
    fill.setColorAt(1, QColor(200, 220, 255));
    p.setBrush(fill);
    p.drawPath(text);

    QFont tag("DejaVu Sans");
    tag.setPixelSize(11);
    p.setFont(tag);
    p.setPen(QColor(20, 20, 90));
    p.drawText(QPointF(170, 52), "firmware programming for boards, microcontrollers and DSPs");
    return pix;
}

}  // namespace ps::gui

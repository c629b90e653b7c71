// SPDX-License-Identifier: MIT
#pragma once
#include <QColor>
#include <cmath>
#include <cstdint>

namespace ps::gui {

// The station keeps colours as 0x00BBGGRR values (red in the low byte), the way its
// documents and step files write them. Qt wants red, green and blue in that order.
using TColor = uint32_t;

constexpr TColor ClSilver = 0xC0C0C0;
constexpr TColor ClGreen = 0x008000;
constexpr TColor ClWhite = 0xFFFFFF;
constexpr TColor ClGrey = 0x808080;

inline QColor ToQColor(TColor c) {
    return QColor(static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF),
                  static_cast<int>((c >> 16) & 0xFF));
}

inline TColor FromQColor(const QColor& c) {
    return static_cast<TColor>(c.red()) | (static_cast<TColor>(c.green()) << 8) |
           (static_cast<TColor>(c.blue()) << 16);
}

// Nearest integer with halves to the even neighbour, as the station's geometry asks.
inline int RoundHalfEven(double v) {
    double r = std::nearbyint(v);  // default rounding mode: to nearest, ties to even
    return static_cast<int>(r);
}

}  // namespace ps::gui

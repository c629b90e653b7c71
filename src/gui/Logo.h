// SPDX-License-Identifier: MIT
#pragma once
#include <QPixmap>

namespace ps::gui {

constexpr int LogoWidth = 531;
constexpr int LogoHeight = 54;

// The header's logo, drawn here so the program carries no picture files: a chip taking a
// stream of bytes, and the product's name. Transparent, so the header's gradient shows.
QPixmap MakeLogo();

}  // namespace ps::gui

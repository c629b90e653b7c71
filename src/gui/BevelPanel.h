// SPDX-License-Identifier: MIT
#pragma once
#include <QWidget>

#include "Colours.h"

namespace ps::gui {

// A plain panel with the classic look: an outer bevel, a border gap in the panel's colour
// and an inner bevel. The map panel and the main window are built from these.
class TBevelPanel : public QWidget {
    Q_OBJECT
public:
    enum Bevel { bvNone, bvLowered, bvRaised };

    explicit TBevelPanel(QWidget* parent = nullptr);

    void SetBevels(Bevel outer, Bevel inner, int bevelWidth = 1, int borderWidth = 0);
    // Colour of the panel's face; an unset colour leaves the style's window colour.
    void SetColor(TColor colour);
    TColor Color() const { return colour_; }
    // Width of the frame (bevels and border) on each side; children fit inside it.
    int FrameSize() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void DrawBevel(class QPainter& p, QRect& r, Bevel bevel);

    Bevel outer_ = bvRaised;
    Bevel inner_ = bvNone;
    int bevelWidth_ = 1;
    int borderWidth_ = 0;
    TColor colour_;
    bool hasColour_ = false;
};

}  // namespace ps::gui

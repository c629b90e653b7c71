// SPDX-License-Identifier: MIT
#pragma once
#include <QFont>
#include <QString>
#include <QWidget>
#include <vector>

#include "BevelPanel.h"
#include "Colours.h"

class QLabel;
class QVBoxLayout;

namespace ps::gui {

class TMap1;

// The percentage gauge of the map panel: white face, light-blue bar, the percentage written
// in the middle.
class TGauge : public QWidget {
    Q_OBJECT
public:
    explicit TGauge(QWidget* parent = nullptr);
    int Progress() const { return progress_; }
    void SetProgress(int percent);  // kept within 0..100

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int progress_ = 0;
};

// The paint box the block grid is drawn on; the drawing belongs to the map panel.
class TCanvasMap : public QWidget {
    Q_OBJECT
public:
    explicit TCanvasMap(TMap1* map, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    TMap1* map_;
};

// The memory-map and status panel: a status line, a file-name line, a percentage gauge, a
// grid of memory blocks coloured by what has been written, and a column of byte counts.
// It knows nothing about programming; the run writes its texts, progress and blocks.
class TMap1 : public QWidget {
    Q_OBJECT
public:
    static constexpr int DefaultRows = 8;
    static constexpr int DefaultCols = 32;
    static constexpr int BlockTableRows = 100;
    static constexpr int BlockTableCols = 200;
    static constexpr int BytesColumnWidth = 50;
    static constexpr int GaugeStripHeight = 30;
    static constexpr TColor GaugeBarColour = 0xFFAAAA;  // light blue
    static constexpr TColor RingColour = ClGreen;
    static constexpr TColor ByteLabelColour = ClGreen;
    static inline const char* const DefaultStatusText = "Status";
    static inline const char* const DefaultFileNameText = "FileName";

    explicit TMap1(QWidget* parent = nullptr);

    bool GaugeVisible() const { return gaugeVisible_; }
    void SetGaugeVisible(bool visible);
    bool FileNameVisible() const { return fileNameVisible_; }
    void SetFileNameVisible(bool visible);
    bool StatusVisible() const { return statusVisible_; }
    void SetStatusVisible(bool visible);
    bool MapVisible() const { return mapVisible_; }
    void SetMapVisible(bool visible);
    bool BytesVisible() const { return bytesVisible_; }
    void SetBytesVisible(bool visible);
    int Rows() const { return rows_; }
    void SetRows(int rows);  // 1..100; rebuilds the byte labels
    int Cols() const { return cols_; }
    void SetCols(int cols);  // 1..200
    int Progress() const;
    void SetProgress(int percent);  // 0..100
    QString StatusText() const;
    void SetStatusText(const QString& text);
    QString FileNameText() const;
    void SetFileNameText(const QString& text);
    QFont StatusFont() const { return statusFont_; }
    void SetStatusFont(const QFont& font);
    QFont FileNameFont() const { return fileNameFont_; }
    void SetFileNameFont(const QFont& font);
    // A font's colour travels with it in the station; Qt keeps it apart, so these go beside
    // the fonts.
    TColor StatusFontColor() const { return statusFontColour_; }
    void SetStatusFontColor(TColor colour);
    TColor FileNameFontColor() const { return fileNameFontColour_; }
    void SetFileNameFontColor(TColor colour);
    TColor ColorStatus() const { return colorStatus_; }
    void SetColorStatus(TColor colour);
    TColor ColorFileName() const { return colorFileName_; }
    void SetColorFileName(TColor colour);
    TColor ColorBytes() const { return colorBytes_; }
    void SetColorBytes(TColor colour);

    // Blocks: row and column are kept within the table; a block is repainted at once, and
    // only when its colour changes.
    void SetBlock(int row, int col, TColor colour);
    TColor GetBlock(int row, int col) const;
    void ClearBlocks();  // all empty, no repaint: the next full paint shows it
    void SetByteLabel(int index, const QString& text);  // 0 = total, 1..Rows = rows

    // For tests and the window: the inner parts and how often single blocks were repainted.
    int BlockRepaints() const { return blockRepaints_; }
    int ByteLabelCount() const { return static_cast<int>(byteLabels_.size()); }
    QLabel* ByteLabel(int index) const;
    TColor ByteLabelTextColour(int index) const;
    TGauge* Gauge() const { return gauge_; }
    TCanvasMap* CanvasMap() const { return canvas_; }
    QLabel* StatusLab() const { return statusLab_; }
    QLabel* FileNameLab() const { return fileNameLab_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    friend class TCanvasMap;
    // A file name longer than its strip loses its middle, so the image's own name at the
    // end stays readable; the whole text is the label's tooltip then.
    void ElideFileName();
    void PaintCanvas(class QPainter& p, const QRect& exposed);
    QRect CellRect(int row, int col) const;
    void PlaceByteLabels();
    void RebuildByteLabels();
    void FitStrips();
    void SetLabelColour(QLabel* label, TColor colour);
    static QString UniqueName(QWidget* owner, const QString& base);

    bool gaugeVisible_ = true;
    bool fileNameVisible_ = true;
    bool statusVisible_ = true;
    bool mapVisible_ = true;
    bool bytesVisible_ = true;
    int rows_ = DefaultRows;
    int cols_ = DefaultCols;
    QFont statusFont_;
    QFont fileNameFont_;
    TColor statusFontColour_ = 0x000000;
    TColor fileNameFontColour_ = 0x000000;
    TColor colorStatus_ = ClSilver;
    TColor colorFileName_ = ClSilver;
    TColor colorBytes_ = ClSilver;
    std::vector<TColor> blocks_;
    int blockRepaints_ = 0;

    TBevelPanel* ozadjeAll_;
    TBevelPanel* statusPanel_;
    QLabel* statusLab_;
    TBevelPanel* fileNamePanel_;
    QLabel* fileNameLab_;
    QString fileNameText_;
    TBevelPanel* ozadjePanel_;
    TBevelPanel* bytesPanel_;
    TBevelPanel* ozadjeMapPanel_;
    TBevelPanel* gaugePanel_;
    TGauge* gauge_;
    TBevelPanel* mapPanel_;
    TCanvasMap* canvas_;
    std::vector<QLabel*> byteLabels_;
};

}  // namespace ps::gui

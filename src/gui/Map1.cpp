// SPDX-License-Identifier: MIT
#include "Map1.h"

#include <QEvent>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QPaintEvent>
#include <QPainter>
#include <QVBoxLayout>
#include <algorithm>

#include "display/MapGeometry.h"
#include "display/StationView.h"

namespace ps::gui {

// ---------------------------------------------------------------------------------------------
// Gauge

TGauge::TGauge(QWidget* parent) : QWidget(parent) {}

void TGauge::SetProgress(int percent) {
    percent = ClampProgress(percent);
    if (percent == progress_) return;
    progress_ = percent;
    update();
}

void TGauge::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), ToQColor(ClWhite));
    int barWidth = width() * progress_ / 100;
    p.fillRect(QRect(0, 0, barWidth, height()), ToQColor(TMap1::GaugeBarColour));
    p.setPen(Qt::black);
    p.drawText(rect(), Qt::AlignCenter, QString::number(progress_) + QLatin1Char('%'));
}

// ---------------------------------------------------------------------------------------------
// Paint box

TCanvasMap::TCanvasMap(TMap1* map, QWidget* parent) : QWidget(parent), map_(map) {}

void TCanvasMap::resizeEvent(QResizeEvent*) {
    map_->PlaceByteLabels();
}

void TCanvasMap::paintEvent(QPaintEvent* event) {
    QPainter p(this);
    map_->PaintCanvas(p, event->rect());
}

// ---------------------------------------------------------------------------------------------
// Map panel

namespace {
constexpr int StripLabelLeft = 4;
// Kept free at the end of the file-name strip for the window's warning mark.
constexpr int FileNameEndRoom = 24;

TBevelPanel* MakePanel(QWidget* owner, QWidget* parent, const QString& base,
                       TBevelPanel::Bevel outer, TBevelPanel::Bevel inner, int bevelWidth,
                       int borderWidth, QString (*unique)(QWidget*, const QString&)) {
    auto* panel = new TBevelPanel(parent);
    panel->setObjectName(unique(owner, base));
    panel->SetBevels(outer, inner, bevelWidth, borderWidth);
    return panel;
}
}  // namespace

// Inner parts carry a base name and the smallest number that keeps the name unique among
// the owner's children, so two panels on one form stay apart for style sheets and tests.
QString TMap1::UniqueName(QWidget* owner, const QString& base) {
    for (int n = 1;; ++n) {
        QString name = base + QString::number(n);
        if (!owner || owner->findChild<QObject*>(name) == nullptr) return name;
    }
}

TMap1::TMap1(QWidget* parent)
    : QWidget(parent), blocks_(BlockTableRows * BlockTableCols, ps::EmptyColour) {
    QWidget* owner = parent ? parent->window() : this;
    resize(400, 200);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    ozadjeAll_ = MakePanel(owner, this, "OzadjeAllPanel", TBevelPanel::bvNone, TBevelPanel::bvNone,
                           1, 2, &TMap1::UniqueName);
    outer->addWidget(ozadjeAll_);

    auto* all = new QVBoxLayout(ozadjeAll_);
    all->setContentsMargins(0, 0, 0, 0);
    all->setSpacing(0);
    statusPanel_ = MakePanel(owner, ozadjeAll_, "StatusPanel", TBevelPanel::bvRaised,
                             TBevelPanel::bvLowered, 1, 0, &TMap1::UniqueName);
    statusLab_ = new QLabel(QString::fromLatin1(DefaultStatusText), statusPanel_);
    statusLab_->setObjectName(UniqueName(owner, "StatusLab"));
    fileNamePanel_ = MakePanel(owner, ozadjeAll_, "FileNamePanel", TBevelPanel::bvRaised,
                               TBevelPanel::bvLowered, 1, 0, &TMap1::UniqueName);
    fileNameLab_ = new QLabel(QString::fromLatin1(DefaultFileNameText), fileNamePanel_);
    fileNameLab_->setObjectName(UniqueName(owner, "FileNameLab"));
    fileNameText_ = fileNameLab_->text();
    fileNamePanel_->installEventFilter(this);
    ozadjePanel_ = MakePanel(owner, ozadjeAll_, "OzadjePanel", TBevelPanel::bvRaised,
                             TBevelPanel::bvLowered, 1, 0, &TMap1::UniqueName);
    all->addWidget(statusPanel_);
    all->addWidget(fileNamePanel_);
    all->addWidget(ozadjePanel_, 1);
    for (QLabel* lab : {statusLab_, fileNameLab_}) {
        lab->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        lab->move(StripLabelLeft, 1);
    }

    auto* row = new QHBoxLayout(ozadjePanel_);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    ozadjeMapPanel_ = MakePanel(owner, ozadjePanel_, "OzadjeMapPanel", TBevelPanel::bvNone,
                                TBevelPanel::bvNone, 1, 0, &TMap1::UniqueName);
    bytesPanel_ = MakePanel(owner, ozadjePanel_, "BytesPanel", TBevelPanel::bvNone,
                            TBevelPanel::bvNone, 1, 0, &TMap1::UniqueName);
    bytesPanel_->setFixedWidth(BytesColumnWidth);
    row->addWidget(ozadjeMapPanel_, 1);
    row->addWidget(bytesPanel_);

    auto* mapColumn = new QVBoxLayout(ozadjeMapPanel_);
    mapColumn->setContentsMargins(0, 0, 0, 0);
    mapColumn->setSpacing(0);
    gaugePanel_ = MakePanel(owner, ozadjeMapPanel_, "GaugePanel", TBevelPanel::bvRaised,
                            TBevelPanel::bvRaised, 2, 0, &TMap1::UniqueName);
    gaugePanel_->setFixedHeight(GaugeStripHeight);
    gauge_ = new TGauge(gaugePanel_);
    gauge_->setObjectName(UniqueName(owner, "Gauge"));
    auto* gaugeLayout = new QVBoxLayout(gaugePanel_);
    gaugeLayout->setContentsMargins(0, 0, 0, 0);
    gaugeLayout->addWidget(gauge_);
    mapPanel_ = MakePanel(owner, ozadjeMapPanel_, "MapPanel", TBevelPanel::bvLowered,
                          TBevelPanel::bvLowered, 2, 0, &TMap1::UniqueName);
    canvas_ = new TCanvasMap(this, mapPanel_);
    canvas_->setObjectName(UniqueName(owner, "CanvasMap"));
    auto* canvasLayout = new QVBoxLayout(mapPanel_);
    canvasLayout->setContentsMargins(0, 0, 0, 0);
    canvasLayout->addWidget(canvas_);
    mapColumn->addWidget(gaugePanel_);
    mapColumn->addWidget(mapPanel_, 1);
    mapColumn->addStretch(0);  // keeps the gauge at the top while the grid is hidden

    statusPanel_->SetColor(colorStatus_);
    fileNamePanel_->SetColor(colorFileName_);
    bytesPanel_->SetColor(colorBytes_);
    SetLabelColour(statusLab_, statusFontColour_);
    SetLabelColour(fileNameLab_, fileNameFontColour_);
    statusFont_ = statusLab_->font();
    fileNameFont_ = fileNameLab_->font();
    RebuildByteLabels();
    FitStrips();
}

void TMap1::SetLabelColour(QLabel* label, TColor colour) {
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, ToQColor(colour));
    label->setPalette(pal);
}

// Each text strip is as high as its label plus two pixels, so a larger font grows it.
void TMap1::FitStrips() {
    ElideFileName();
    for (auto [panel, lab] :
         {std::pair{statusPanel_, statusLab_}, {fileNamePanel_, fileNameLab_}}) {
        lab->adjustSize();
        panel->setFixedHeight(lab->height() + 2);
    }
}

void TMap1::SetGaugeVisible(bool visible) {
    gaugeVisible_ = visible;
    gaugePanel_->setVisible(visible);
    PlaceByteLabels();
}

void TMap1::SetFileNameVisible(bool visible) {
    fileNameVisible_ = visible;
    fileNamePanel_->setVisible(visible);
}

void TMap1::SetStatusVisible(bool visible) {
    statusVisible_ = visible;
    statusPanel_->setVisible(visible);
}

void TMap1::SetMapVisible(bool visible) {
    mapVisible_ = visible;
    mapPanel_->setVisible(visible);
}

void TMap1::SetBytesVisible(bool visible) {
    bytesVisible_ = visible;
    bytesPanel_->setVisible(visible);
}

void TMap1::SetRows(int rows) {
    rows_ = ClampMapRows(rows);
    RebuildByteLabels();
    canvas_->update();
}

void TMap1::SetCols(int cols) {
    cols_ = ClampMapCols(cols);
    canvas_->update();
}

int TMap1::Progress() const {
    return gauge_->Progress();
}
void TMap1::SetProgress(int percent) {
    gauge_->SetProgress(percent);
}

QString TMap1::StatusText() const {
    return statusLab_->text();
}
void TMap1::SetStatusText(const QString& text) {
    statusLab_->setText(text);
    FitStrips();
}

QString TMap1::FileNameText() const {
    return fileNameText_;
}
void TMap1::SetFileNameText(const QString& text) {
    fileNameText_ = text;
    FitStrips();
}

void TMap1::ElideFileName() {
    const int room = fileNamePanel_->width() - StripLabelLeft - FileNameEndRoom;
    const QString shown =
        room > 0 ? QFontMetrics(fileNameLab_->font()).elidedText(fileNameText_, Qt::ElideMiddle, room)
                 : fileNameText_;
    fileNameLab_->setText(shown);
    fileNameLab_->setToolTip(shown != fileNameText_ ? fileNameText_ : QString());
}

bool TMap1::eventFilter(QObject* watched, QEvent* event) {
    if (watched == fileNamePanel_ && event->type() == QEvent::Resize) FitStrips();
    return QWidget::eventFilter(watched, event);
}

void TMap1::SetStatusFont(const QFont& font) {
    statusFont_ = font;
    statusLab_->setFont(font);
    FitStrips();
}

void TMap1::SetFileNameFont(const QFont& font) {
    fileNameFont_ = font;
    fileNameLab_->setFont(font);
    FitStrips();
}

void TMap1::SetStatusFontColor(TColor colour) {
    statusFontColour_ = colour;
    SetLabelColour(statusLab_, colour);
}

void TMap1::SetFileNameFontColor(TColor colour) {
    fileNameFontColour_ = colour;
    SetLabelColour(fileNameLab_, colour);
}

void TMap1::SetColorStatus(TColor colour) {
    colorStatus_ = colour;
    statusPanel_->SetColor(colour);
}

void TMap1::SetColorFileName(TColor colour) {
    colorFileName_ = colour;
    fileNamePanel_->SetColor(colour);
}

void TMap1::SetColorBytes(TColor colour) {
    colorBytes_ = colour;
    bytesPanel_->SetColor(colour);
    PlaceByteLabels();
}

// ---------------------------------------------------------------------------------------------
// Blocks

namespace {
int ClampIndex(int v, int count) {
    return std::clamp(v, 0, count - 1);
}
}  // namespace

void TMap1::SetBlock(int row, int col, TColor colour) {
    row = ClampIndex(row, BlockTableRows);
    col = ClampIndex(col, BlockTableCols);
    TColor& stored = blocks_[static_cast<size_t>(row) * BlockTableCols + col];
    if (stored == colour) return;
    stored = colour;
    ++blockRepaints_;
    if (row < rows_ && col < cols_ && canvas_->isVisible()) {
        // Only this block: a run marks blocks one by one and must not redraw the whole grid
        // each time.
        canvas_->repaint(CellRect(row, col).adjusted(0, 0, 1, 1));
    }
}

TColor TMap1::GetBlock(int row, int col) const {
    row = ClampIndex(row, BlockTableRows);
    col = ClampIndex(col, BlockTableCols);
    return blocks_[static_cast<size_t>(row) * BlockTableCols + col];
}

void TMap1::ClearBlocks() {
    std::fill(blocks_.begin(), blocks_.end(), ps::EmptyColour);
}

// Cell (row, col) of the grid, on the paint box: real-valued cell sizes, corners rounded half
// to even, so the cells tile the box without gaps or overlaps.
QRect TMap1::CellRect(int row, int col) const {
    double w = (canvas_->width() - 1) / static_cast<double>(cols_);
    double h = (canvas_->height() - 1) / static_cast<double>(rows_);
    int x1 = RoundHalfEven(col * w), y1 = RoundHalfEven(row * h);
    int x2 = RoundHalfEven((col + 1) * w), y2 = RoundHalfEven((row + 1) * h);
    return QRect(QPoint(x1, y1), QPoint(x2 - 1, y2 - 1));
}

void TMap1::PaintCanvas(QPainter& p, const QRect& exposed) {
    double w = (canvas_->width() - 1) / static_cast<double>(cols_);
    double h = (canvas_->height() - 1) / static_cast<double>(rows_);
    int dx = RoundHalfEven(w / 5), dy = RoundHalfEven(h / 5);
    p.setPen(QPen(ToQColor(RingColour), 1));
    p.setBrush(Qt::NoBrush);
    for (int r = 0; r < rows_; ++r) {
        for (int c = 0; c < cols_; ++c) {
            QRect cell = CellRect(r, c);
            if (!cell.adjusted(0, 0, 1, 1).intersects(exposed)) continue;
            p.fillRect(cell, ToQColor(GetBlock(r, c)));
            // The ring's box runs from 2/5 to 3/5 of the cell; like the fill, its right and
            // bottom edges are exclusive.
            int ex1 = RoundHalfEven(c * w + 2 * dx), ey1 = RoundHalfEven(r * h + 2 * dy);
            int ex2 = RoundHalfEven(c * w + 3 * dx), ey2 = RoundHalfEven(r * h + 3 * dy);
            if (ex2 - ex1 >= 2 && ey2 - ey1 >= 2) {
                p.drawEllipse(QRect(ex1, ey1, ex2 - ex1 - 1, ey2 - ey1 - 1));
            } else if (ex2 > ex1 && ey2 > ey1) {
                p.drawPoint(ex1, ey1);
            }
        }
    }
    // Labels follow the grid's full paints; a single block's repaint leaves them be.
    if (exposed.contains(canvas_->rect())) PlaceByteLabels();
}

// ---------------------------------------------------------------------------------------------
// Byte labels

void TMap1::RebuildByteLabels() {
    for (QLabel* lab : bytesPanel_->findChildren<QLabel*>(QString(), Qt::FindDirectChildrenOnly)) {
        delete lab;
    }
    byteLabels_.clear();
    QFont font = bytesPanel_->font();
    font.setBold(true);
    int height = QFontMetrics(font).height();
    for (int i = 0; i <= rows_; ++i) {
        auto* lab = new QLabel(bytesPanel_);
        lab->setFont(font);
        lab->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        lab->setGeometry(0, 0, BytesColumnWidth, height);
        SetLabelColour(lab, ByteLabelColour);
        lab->show();
        byteLabels_.push_back(lab);
    }
    PlaceByteLabels();
}

void TMap1::PlaceByteLabels() {
    if (byteLabels_.empty()) return;
    int columnWidth = bytesPanel_->contentsRect().width();
    QPoint columnTop = bytesPanel_->mapTo(this, QPoint(0, 0));
    int labelHeight = byteLabels_[0]->height();

    QLabel* total = byteLabels_[0];
    int gaugeTop = gaugePanel_->mapTo(this, QPoint(0, 0)).y() - columnTop.y();
    total->setGeometry(0, gaugeTop + 2 + (gaugePanel_->height() - labelHeight) / 2, columnWidth,
                       labelHeight);
    SetLabelColour(total, gaugeVisible_ ? ByteLabelColour : colorBytes_);

    double h = (canvas_->height() - 1) / static_cast<double>(rows_);
    int gridOffset = canvas_->mapTo(this, QPoint(0, 0)).y() - columnTop.y();
    // A label taller than its row would overlap its neighbours: it stays, but unseen.
    TColor rowColour = labelHeight <= h ? ByteLabelColour : colorBytes_;
    for (int i = 1; i < static_cast<int>(byteLabels_.size()); ++i) {
        int top = RoundHalfEven((i - 0.5) * h + gridOffset - labelHeight / 2.0);
        byteLabels_[i]->setGeometry(0, top, columnWidth, labelHeight);
        SetLabelColour(byteLabels_[i], rowColour);
    }
}

void TMap1::SetByteLabel(int index, const QString& text) {
    if (index < 0 || index >= static_cast<int>(byteLabels_.size())) return;
    byteLabels_[index]->setText(text);
}

QLabel* TMap1::ByteLabel(int index) const {
    if (index < 0 || index >= static_cast<int>(byteLabels_.size())) return nullptr;
    return byteLabels_[index];
}

TColor TMap1::ByteLabelTextColour(int index) const {
    QLabel* lab = ByteLabel(index);
    return lab ? FromQColor(lab->palette().color(QPalette::WindowText)) : 0;
}

}  // namespace ps::gui

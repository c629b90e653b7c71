// SPDX-License-Identifier: MIT
#include "EditorWidgets.h"

#include <QButtonGroup>
#include <QEvent>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QRadioButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace ps::gui {

TRadioGroup::TRadioGroup(const std::vector<const char*>& items, int columns, QWidget* parent)
    : QWidget(parent), group_(new QButtonGroup(this)) {
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(2, 0, 2, 0);
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(0);
    const int count = static_cast<int>(items.size());
    const int rows = (count + columns - 1) / columns;
    for (int i = 0; i < count; ++i) {
        auto* b = new QRadioButton(QString::fromLatin1(items[i]), this);
        group_->addButton(b, i);
        grid->addWidget(b, i % rows, i / rows);
        buttons_.push_back(b);
    }
    connect(group_, &QButtonGroup::idClicked, this, &TRadioGroup::Clicked);
}

int TRadioGroup::ItemIndex() const {
    return group_->checkedId();
}

void TRadioGroup::SetItemIndex(int index) {
    if (index == ItemIndex()) return;
    if (index < 0 || index >= Count()) {
        // An exclusive group cannot untick its last button: let go for a moment.
        group_->setExclusive(false);
        for (QRadioButton* b : buttons_) b->setChecked(false);
        group_->setExclusive(true);
        return;
    }
    buttons_[index]->setChecked(true);
}

TUpDown::TUpDown(QWidget* parent) : QWidget(parent) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    up_ = new QToolButton(this);
    up_->setArrowType(Qt::UpArrow);
    down_ = new QToolButton(this);
    down_->setArrowType(Qt::DownArrow);
    for (QToolButton* b : {up_, down_}) {
        b->setFixedSize(17, 11);
        b->setFocusPolicy(Qt::NoFocus);
        b->setAutoRepeat(true);
        column->addWidget(b);
    }
    setFocusPolicy(Qt::StrongFocus);
    connect(up_, &QToolButton::clicked, this, [this] { Step(1); });
    connect(down_, &QToolButton::clicked, this, [this] { Step(-1); });
    UpdateArrows();
}

void TUpDown::SetRange(int min, int max) {
    min_ = min;
    max_ = max < min ? min : max;
    SetPosition(position_);
}

void TUpDown::SetPosition(int position) {
    position_ = position < min_ ? min_ : (position > max_ ? max_ : position);
    UpdateArrows();
}

void TUpDown::Step(int delta) {
    const int before = position_;
    SetPosition(position_ + delta);
    if (position_ != before) emit Changed(position_);
}

void TUpDown::UpdateArrows() {
    up_->setEnabled(isEnabled() && position_ < max_);
    down_->setEnabled(isEnabled() && position_ > min_);
}

void TUpDown::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Up || e->key() == Qt::Key_Right) {
        Step(1);
    } else if (e->key() == Qt::Key_Down || e->key() == Qt::Key_Left) {
        Step(-1);
    } else {
        QWidget::keyPressEvent(e);
    }
}

void TUpDown::changeEvent(QEvent* e) {
    if (e->type() == QEvent::EnabledChange) UpdateArrows();
    QWidget::changeEvent(e);
}

QString QtFileFilter(const char* filter) {
    const QString text = QString::fromLatin1(filter);
    const qsizetype bar = text.indexOf('|');
    QString description = bar < 0 ? text : text.left(bar);
    const QStringList given =
        (bar < 0 ? QString() : text.mid(bar + 1)).split(';', Qt::SkipEmptyParts);
    QStringList patterns;
    for (const QString& p : given) {
        for (const QString& c : {p.toUpper(), p.toLower()}) {
            if (!patterns.contains(c)) patterns << c;
        }
    }
    // Qt reads the patterns from the last parentheses of the text.
    if (const qsizetype open = description.lastIndexOf('('); open >= 0) {
        description = description.left(open).trimmed();
    }
    return description + " (" + patterns.join(' ') + ")";
}

QString ChooseFileWithDialog(QWidget* parent, const QString& title, const QString& filter) {
    return QFileDialog::getOpenFileName(parent, title, QString(), filter);
}

std::string ToStationText(const QString& text) {
    return text.toUtf8().toStdString();
}

TElidedLabel::TElidedLabel(QWidget* parent) : QLabel(parent) {
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

void TElidedLabel::SetFullText(const QString& text) {
    full_ = text;
    Elide();
}

QSize TElidedLabel::minimumSizeHint() const {
    return QSize(0, QLabel::minimumSizeHint().height());
}

QSize TElidedLabel::sizeHint() const {
    return QSize(fontMetrics().horizontalAdvance(full_), QLabel::sizeHint().height());
}

void TElidedLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    Elide();
}

void TElidedLabel::Elide() {
    const QString shown = fontMetrics().elidedText(full_, Qt::ElideMiddle, width());
    if (shown != text()) setText(shown);
    setToolTip(shown != full_ ? full_ : QString());
}

}  // namespace ps::gui

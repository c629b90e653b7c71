// SPDX-License-Identifier: MIT
#pragma once
#include <QLabel>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

class QButtonGroup;
class QRadioButton;
class QToolButton;

namespace ps::gui {

// A group of radio buttons in columns that may have none chosen, as the dialogs need for
// a step that does not set its key. Idclicked only for the operator's own choices.
class TRadioGroup : public QWidget {
    Q_OBJECT
public:
    TRadioGroup(const std::vector<const char*>& items, int columns, QWidget* parent = nullptr);
    int ItemIndex() const;  // -1: none chosen
    void SetItemIndex(int index);
    int Count() const { return static_cast<int>(buttons_.size()); }
    QRadioButton* Item(int index) const { return buttons_[index]; }

signals:
    void Clicked(int index);

private:
    QButtonGroup* group_;
    std::vector<QRadioButton*> buttons_;
};

// Two arrows that step a number within a range (the arrow keys do the same).
class TUpDown : public QWidget {
    Q_OBJECT
public:
    explicit TUpDown(QWidget* parent = nullptr);
    int Position() const { return position_; }
    void SetRange(int min, int max);
    void SetPosition(int position);  // limited to the range, without a signal
    int Min() const { return min_; }
    int Max() const { return max_; }
    QToolButton* Up() const { return up_; }
    QToolButton* Down() const { return down_; }

signals:
    void Changed(int position);  // the operator moved it

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void Step(int delta);
    void UpdateArrows();

    QToolButton* up_;
    QToolButton* down_;
    int min_ = 0;
    int max_ = 0;
    int position_ = 0;
};

// A filter written as "description|patterns" (patterns separated by ";") in the form Qt's
// file dialog reads. File names on this system are case sensitive, so each pattern is
// offered in upper and in lower case.
QString QtFileFilter(const char* filter);

// Asks for a file to open: (parent, title, filter) -> the chosen path, empty when cancelled.
// Tests put their own in place of the file dialog.
// A label for a file name that may be longer than its room: the middle gives way, so both
// the folder's start and the file's own name stay readable, and the whole name is the
// tooltip. It never widens its window.
class TElidedLabel : public QLabel {
    Q_OBJECT
public:
    explicit TElidedLabel(QWidget* parent = nullptr);
    void SetFullText(const QString& text);
    QString FullText() const { return full_; }
    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void Elide();
    QString full_;
};

using FileChooser = std::function<QString(QWidget*, const QString&, const QString&)>;
QString ChooseFileWithDialog(QWidget* parent, const QString& title, const QString& filter);

// Text for the core (UTF-8).
std::string ToStationText(const QString& text);

}  // namespace ps::gui

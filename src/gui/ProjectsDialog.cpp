// SPDX-License-Identifier: MIT
#include "ProjectsDialog.h"

#include <QAction>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QStyledItemDelegate>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QVBoxLayout>

#include "MainWindow.h"
#include "StepEditor.h"
#include "app/Hints.h"
#include "run/Station.h"
#include "projects/Settings.h"

namespace ps::gui {

namespace {

constexpr int DialogWidth = 440;
constexpr int DialogHeight = 360;
constexpr int ButtonWidth = 80;
constexpr int IdRole = Qt::UserRole;
constexpr TColor CutColour = ClGrey;

// "~" separates the fields of a stored entry, so no field may hold one.
QValidator* NoSeparator(QObject* parent) {
    return new QRegularExpressionValidator(
        QRegularExpression(QString("[^%1]*").arg(QChar(ps::ProjectFieldSeparator))), parent);
}

// In-place editing of a node's text, without "~".
class NodeTextDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override {
        QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
        if (auto* line = qobject_cast<QLineEdit*>(editor)) line->setValidator(NoSeparator(line));
        return editor;
    }
};

QPushButton* Button(const char* caption, const char* name, QWidget* parent) {
    auto* b = new QPushButton(QString::fromLatin1(caption), parent);
    b->setObjectName(name);
    b->setMinimumWidth(ButtonWidth);
    return b;
}

}  // namespace

TProjects::TProjects(ps::Station& station, TPEditing& editor, QWidget* parent)
    : QDialog(parent), station_(station), editor_(editor) {
    setObjectName("Projects");
    setWindowTitle(QString::fromLatin1(ProjectsCaption));
    setModal(true);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(6, 6, 6, 6);
    column->addWidget(BuildListPanel());
    column->addWidget(BuildEntryPanel());
    resize(DialogWidth, DialogHeight);
    ShowList();
}

QWidget* TProjects::BuildListPanel() {
    Panel1 = new QWidget(this);
    Panel1->setObjectName("Panel1");
    auto* column = new QVBoxLayout(Panel1);
    column->setContentsMargins(0, 0, 0, 0);
    // The widgets are made in the order the Tab key goes through them.
    column->addLayout(BuildTreeRow(), 1);
    auto* extraLabel = new QLabel(QString::fromLatin1(ExtraParametersCaption), Panel1);
    ExtraEdit = new QLineEdit(Panel1);
    ExtraEdit->setObjectName("ExtraEdit");
    extraLabel->setBuddy(ExtraEdit);
    column->addWidget(extraLabel);
    column->addWidget(ExtraEdit);
    column->addLayout(BuildOkCancelRow());
    BuildPopupMenu();
    ConnectListPanel();
    return Panel1;
}

QLayout* TProjects::BuildTreeRow() {
    auto* top = new QHBoxLayout;
    TreeView1 = new QTreeWidget(Panel1);
    TreeView1->setObjectName("TreeView1");
    TreeView1->setHeaderHidden(true);
    TreeView1->setSelectionMode(QAbstractItemView::SingleSelection);
    TreeView1->setEditTriggers(QAbstractItemView::DoubleClicked |
                               QAbstractItemView::EditKeyPressed |
                               QAbstractItemView::SelectedClicked);
    TreeView1->setItemDelegate(new NodeTextDelegate(TreeView1));
    TreeView1->setContextMenuPolicy(Qt::CustomContextMenu);
    TreeView1->viewport()->installEventFilter(this);
    top->addWidget(TreeView1, 1);

    auto* buttons = new QVBoxLayout;
    AddBtn = Button(AddCaption, "AddBtn", Panel1);
    EditBtn = Button(EditCaption, "EditBtn", Panel1);
    RemoveBtn = Button(RemoveCaption, "RemoveBtn", Panel1);
    for (QPushButton* b : {AddBtn, EditBtn, RemoveBtn}) {
        b->setAutoDefault(false);
        buttons->addWidget(b);
    }
    buttons->addStretch(1);
    top->addLayout(buttons);
    return top;
}

QLayout* TProjects::BuildOkCancelRow() {
    auto* bottom = new QHBoxLayout;
    bottom->addStretch(1);
    OkBtn = Button(OkCaption, "OkBtn", Panel1);
    CancelBtn = Button(CancelCaption, "CancelBtn", Panel1);
    CancelBtn->setAutoDefault(false);
    bottom->addWidget(OkBtn);
    bottom->addWidget(CancelBtn);
    return bottom;
}

void TProjects::BuildPopupMenu() {
    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName("PopupMenu1");
    auto action = [&](const char* caption, const char* name, const QKeySequence& keys) {
        auto* a = new QAction(QString::fromLatin1(caption), this);
        a->setObjectName(name);
        a->setShortcut(keys);
        // The keys act on the tree; while a node's text is being edited they edit the text.
        a->setShortcutContext(Qt::WidgetShortcut);
        TreeView1->addAction(a);
        PopupMenu1->addAction(a);
        return a;
    };
    CopyAction = action(CopyCaption, "CopyAction", QKeySequence(Qt::CTRL | Qt::Key_C));
    CutAction = action(CutCaption, "CutAction", QKeySequence(Qt::CTRL | Qt::Key_X));
    PasteAction = action(PasteCaption, "PasteAction", QKeySequence(Qt::CTRL | Qt::Key_V));
    AddFolderAction = action(AddFolderCaption, "AddFolderAction", QKeySequence());
}

void TProjects::ConnectListPanel() {
    connect(TreeView1, &QTreeWidget::itemSelectionChanged, this, [this] {
        if (rebuilding_) return;
        const QList<QTreeWidgetItem*> items = TreeView1->selectedItems();
        selected_ = items.isEmpty() ? 0 : IdOf(items.front());
        if (selected_ != 0) current_ = selected_;
        UpdateButtons();
    });
    connect(TreeView1, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int) {
        if (rebuilding_) return;
        tree_.Rename(IdOf(item), ToStationText(item->text(0)));
        UpdateButtons();
    });
    connect(TreeView1, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        PopupMenu1->exec(TreeView1->viewport()->mapToGlobal(pos));
    });
    connect(AddBtn, &QPushButton::clicked, this, &TProjects::AddClick);
    connect(EditBtn, &QPushButton::clicked, this, &TProjects::EditClick);
    connect(RemoveBtn, &QPushButton::clicked, this, &TProjects::RemoveClick);
    connect(OkBtn, &QPushButton::clicked, this, &TProjects::OkClick);
    connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
    connect(CopyAction, &QAction::triggered, this, &TProjects::CopyClick);
    connect(CutAction, &QAction::triggered, this, &TProjects::CutClick);
    connect(PasteAction, &QAction::triggered, this, &TProjects::PasteClick);
    connect(AddFolderAction, &QAction::triggered, this, &TProjects::AddFolderClick);
}

QWidget* TProjects::BuildEntryPanel() {
    Panel2 = new QWidget(this);
    Panel2->setObjectName("Panel2");
    auto* column = new QVBoxLayout(Panel2);
    column->setContentsMargins(0, 0, 0, 0);
    auto* form = new QFormLayout;
    ShortcutEdit = new QLineEdit(Panel2);
    ShortcutEdit->setObjectName("ShortcutEdit");
    ShortcutEdit->setMaximumWidth(ButtonWidth);
    NameEdit = new QLineEdit(Panel2);
    NameEdit->setObjectName("NameEdit");
    FileEdit = new QLineEdit(Panel2);
    FileEdit->setObjectName("FileEdit");
    for (QLineEdit* e : {ShortcutEdit, NameEdit, FileEdit}) e->setValidator(NoSeparator(e));
    BrowseBtn = Button(BrowseCaption, "BrowseBtn", Panel2);
    BrowseBtn->setAutoDefault(false);
    auto* fileRow = new QHBoxLayout;
    fileRow->addWidget(FileEdit, 1);
    fileRow->addWidget(BrowseBtn);
    form->addRow(QString::fromLatin1(ShortcutCaption), ShortcutEdit);
    form->addRow(QString::fromLatin1(ProjectNameCaption), NameEdit);
    form->addRow(QString::fromLatin1(FileNameCaption), fileRow);
    column->addLayout(form);
    column->addStretch(1);

    auto* bottom = new QHBoxLayout;
    bottom->addStretch(1);
    AddEntryBtn = Button(AddEntryCaption, "AddEntryBtn", Panel2);
    EditEntryBtn = Button(EditCaption, "EditEntryBtn", Panel2);
    CancelEntryBtn = Button(CancelCaption, "CancelEntryBtn", Panel2);
    for (QPushButton* b : {EditEntryBtn, CancelEntryBtn}) b->setAutoDefault(false);
    bottom->addWidget(AddEntryBtn);
    bottom->addWidget(EditEntryBtn);
    bottom->addWidget(CancelEntryBtn);
    column->addLayout(bottom);

    connect(FileEdit, &QLineEdit::textChanged, this, &TProjects::UpdateButtons);
    connect(BrowseBtn, &QPushButton::clicked, this, &TProjects::BrowseClick);
    connect(AddEntryBtn, &QPushButton::clicked, this, &TProjects::AddEntryClick);
    connect(EditEntryBtn, &QPushButton::clicked, this, &TProjects::EditEntryClick);
    connect(CancelEntryBtn, &QPushButton::clicked, this, &TProjects::ShowList);
    return Panel2;
}

// ---------------------------------------------------------------------------------------------
// The tree

int TProjects::IdOf(QTreeWidgetItem* item) const {
    return item == nullptr ? 0 : item->data(0, IdRole).toInt();
}

QTreeWidgetItem* TProjects::ItemOf(int id) const {
    if (id == 0) return nullptr;
    for (QTreeWidgetItemIterator it(TreeView1); *it; ++it) {
        if (IdOf(*it) == id) return *it;
    }
    return nullptr;
}

void TProjects::Fill() {
    remembered_ = 0;
    cut_ = false;
    current_ = 0;
    ps::ProjectSettings s = ps::LoadProjectSettings(station_.IniPath);
    tree_ = std::move(s.Tree);
    selected_ = s.SelectedPosition > 0 ? tree_.Nodes()[s.SelectedPosition - 1].Id : 0;
    ExtraEdit->setText(FromStationText(s.ExtraParameters));
    Rebuild();
}

void TProjects::Rebuild() {
    rebuilding_ = true;
    TreeView1->clear();
    std::vector<QTreeWidgetItem*> path;  // the newest item of each level
    for (const ps::ProjectNode& node : tree_.Nodes()) {
        path.resize(static_cast<size_t>(node.Level));
        auto* item =
            path.empty() ? new QTreeWidgetItem(TreeView1) : new QTreeWidgetItem(path.back());
        path.push_back(item);
        item->setText(0, FromStationText(node.Name));
        item->setData(0, IdRole, node.Id);
        item->setFlags(item->flags() | Qt::ItemIsEditable);
        if (cut_ && node.Id == remembered_) {
            QFont f = item->font(0);
            f.setItalic(true);
            item->setFont(0, f);
            item->setForeground(0, ToQColor(CutColour));
        }
    }
    TreeView1->expandAll();
    if (QTreeWidgetItem* item = ItemOf(selected_)) {
        TreeView1->setCurrentItem(item);
    } else {
        selected_ = 0;
        TreeView1->clearSelection();
    }
    rebuilding_ = false;
    UpdateButtons();
}

void TProjects::UpdateButtons() {
    const ps::ProjectNode* node = tree_.Find(selected_);
    OkBtn->setEnabled(tree_.Count() > 0 && node != nullptr);
    EditBtn->setEnabled(node != nullptr);
    RemoveBtn->setEnabled(node != nullptr);
    const bool named = !FileEdit->text().isEmpty();
    AddEntryBtn->setEnabled(named);
    EditEntryBtn->setEnabled(named);
    TreeView1->setToolTip(node != nullptr ? FromStationText(node->Name) : QString());
}

void TProjects::ShowList() {
    Panel2->hide();
    Panel1->show();
    AddEntryBtn->setDefault(false);
    OkBtn->setDefault(true);
    TreeView1->setFocus();
}

void TProjects::ShowEntry() {
    Panel1->hide();
    Panel2->show();
    OkBtn->setDefault(false);
    AddEntryBtn->setDefault(true);
    NameEdit->setFocus();
    UpdateButtons();
}

bool TProjects::OpenList() {
    if (station_.Running) return false;
    ShowList();
    exec();
    return true;
}

void TProjects::showEvent(QShowEvent* e) {
    // Every opening starts from the stored list: what an earlier opening left unsaved is
    // gone. Coming back from the step editor or a message box is no new opening.
    if (!e->spontaneous()) Fill();
    QDialog::showEvent(e);
}

bool TProjects::eventFilter(QObject* watched, QEvent* e) {
    if (watched == TreeView1->viewport() && e->type() == QEvent::MouseButtonPress) {
        auto* mouse = static_cast<QMouseEvent*>(e);
        QTreeWidgetItem* item = TreeView1->itemAt(mouse->position().toPoint());
        // The node under the mouse is the one the popup menu acts on; on empty space none.
        current_ = IdOf(item);
        // A left press selects through the tree itself (and a second one starts editing).
        if (item != nullptr && mouse->button() != Qt::LeftButton) TreeView1->setCurrentItem(item);
    }
    return QDialog::eventFilter(watched, e);
}

void TProjects::reject() {
    if (Panel2->isVisible()) {
        ShowList();
        return;
    }
    QDialog::reject();
}

// ---------------------------------------------------------------------------------------------
// List panel

void TProjects::AddClick() {
    editMode_ = false;
    NameEdit->clear();
    FileEdit->clear();
    ShortcutEdit->setText(QString::fromStdString(ps::ProposeProjectNumber(station_.IniPath)));
    ShowEntry();
}

void TProjects::EditClick() {
    const ps::ProjectNode* node = tree_.Find(selected_);
    if (node == nullptr) return;
    editMode_ = true;
    ShortcutEdit->setText(FromStationText(node->Number));
    NameEdit->setText(FromStationText(node->Name));
    FileEdit->setText(FromStationText(node->Path));
    editor_.SetCurrentStep(1);
    ShowEntry();
}

void TProjects::RemoveClick() {
    if (tree_.Find(selected_) == nullptr) return;
    if (tree_.IsWithin(remembered_, selected_)) remembered_ = 0;
    if (tree_.IsWithin(current_, selected_)) current_ = 0;
    tree_.Remove(selected_);
    selected_ = 0;
    Rebuild();
}

void TProjects::OkClick() {
    const int position = tree_.IndexOf(selected_) + 1;  // 0 without a selection
    ps::SettingsFiles files = files_;
    if (files.Write.empty()) files = {station_.IniPath, station_.IniPath, ""};
    if (!ps::SaveProjectSettings(files, tree_, position, ToStationText(ExtraEdit->text()))) {
        // Closing as if saved would lose the operator's list without a word.
        QMessageBox box(
            QMessageBox::Critical, windowTitle(),
            QString::fromLatin1(TextErrorWritingSettings) + "\n" + FromStationText(files.Write),
            QMessageBox::Ok, this);
        box.setDetailedText(JoinLines(ps::WriteHints(files.Write)));
        box.exec();
        return;
    }
    // The file written is now the station's: the user's file, once there, is the one read.
    station_.IniPath = files_.Read = files.Write;
    Fill();
    station_.Project = ps::SelectCurrentProject(station_.IniPath);
    accept();
}

void TProjects::CopyClick() {
    if (tree_.Find(current_) == nullptr) return;
    remembered_ = current_;
    cut_ = false;
    Rebuild();
}

void TProjects::CutClick() {
    if (tree_.Find(current_) == nullptr) return;
    remembered_ = current_;
    cut_ = true;
    Rebuild();
}

void TProjects::PasteClick() {
    if (tree_.Find(remembered_) == nullptr) return;
    const int parent = tree_.Find(current_) != nullptr ? current_ : 0;
    // Pasting a node into itself or below itself would cut it off the tree: nothing moves,
    // and the node stays remembered for a paste elsewhere.
    if (!tree_.MoveUnder(remembered_, parent)) return;
    remembered_ = 0;
    cut_ = false;
    if (parent != 0) selected_ = parent;
    Rebuild();
}

void TProjects::AddFolderClick() {
    selected_ = current_ = tree_.Add(0, "", ps::NewFolderName, "");
    Rebuild();
}

// ---------------------------------------------------------------------------------------------
// Entry panel

void TProjects::BrowseClick() {
    const QString chosen = ChooseFile(this, QString::fromLatin1(ps::FileDialogTitle),
                                      QtFileFilter(ps::ProjectFileFilter));
    if (!chosen.isEmpty()) FileEdit->setText(chosen);
}

void TProjects::AddEntryClick() {
    if (FileEdit->text().isEmpty()) return;
    const std::string number = ps::PadProjectNumber(ToStationText(ShortcutEdit->text()));
    const std::string name = ToStationText(NameEdit->text());
    const std::string path = ToStationText(FileEdit->text());
    int id = selected_;
    if (editMode_ && tree_.Find(id) != nullptr) {
        tree_.Update(id, number, name, path);
    } else {
        id = tree_.Add(0, number, name, path);
    }
    selected_ = current_ = id;
    ShowList();
    Rebuild();
}

void TProjects::EditEntryClick() {
    if (FileEdit->text().isEmpty()) return;
    editor_.LoadFile(FileEdit->text());
    editor_.exec();
    // Whatever the editor's outcome, the entry is taken as it stands.
    AddEntryClick();
}

void ConnectProjectsButton(TForm1& form, TProjects& projects) {
    QObject::connect(form.ProjectBtn, &QAbstractButton::clicked, &projects,
                     [&projects] { projects.OpenList(); });
}

}  // namespace ps::gui

// SPDX-License-Identifier: MIT
#include "StepEditor.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>
#include <QValidator>
#include <functional>

#include "MainWindow.h"
#include "app/Hints.h"
#include "app/Models.h"
#include "projects/StepFile.h"

namespace ps::gui {

namespace {

constexpr const char* ModelTitle = "MODEL";
constexpr const char* FileTitle = "File Name";
constexpr const char* ComSettingsTitle = "COM Settings";
constexpr const char* PortTitle = "Port";
constexpr const char* BaudTitle = "Baud Rate";
constexpr const char* ResetTitle = "Reset Signal";
constexpr const char* BootTitle = "Boot Signal";
constexpr const char* BeforeTitle = "Before Programming";
constexpr const char* AddressTitle = "Address space";
constexpr const char* VisualTitle = "Visual Settings";
constexpr const char* AfterTitle = "After Programming";
constexpr const char* ProcessorTitle = "PROCESSOR";
constexpr const char* SpeedTitle = "Speed SPI";
constexpr int PairedEditWidth = 70;
constexpr int FieldWidth = 80;
constexpr int CheckListWidth = 130;
constexpr int CommentWidth = 300;

QGroupBox* Group(const char* title, const char* name, QWidget* parent) {
    auto* g = new QGroupBox(QString::fromLatin1(title), parent);
    g->setObjectName(name);
    return g;
}

// A list of check items, all rows shown.
template <size_t N>
QListWidget* CheckList(const char* name, const std::array<const char*, N>& items, QWidget* parent) {
    auto* list = new QListWidget(parent);
    list->setObjectName(name);
    list->setUniformItemSizes(true);
    list->setFixedWidth(CheckListWidth);
    list->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    for (const char* text : items) {
        auto* item = new QListWidgetItem(QString::fromLatin1(text), list);
        item->setCheckState(Qt::Unchecked);
    }
    list->setFixedHeight(list->sizeHintForRow(0) * list->count() + 2 * list->frameWidth());
    return list;
}

// The comment beside a check list, as high as the list.
QListWidget* CommentList(const char* name, QListWidget* beside, QWidget* parent) {
    auto* list = new QListWidget(parent);
    list->setObjectName(name);
    list->setFixedHeight(beside->height());
    list->setMinimumWidth(CommentWidth);
    list->setSelectionMode(QAbstractItemView::NoSelection);
    list->setFocusPolicy(Qt::NoFocus);
    QFont small = list->font();
    small.setPointSizeF(small.pointSizeF() * 0.9);
    list->setFont(small);
    return list;
}

bool HasShownControl(QGroupBox* group) {
    for (QWidget* w : group->findChildren<QWidget*>()) {
        const bool control = qobject_cast<QAbstractButton*>(w) || qobject_cast<QLineEdit*>(w) ||
                             qobject_cast<QComboBox*>(w) || qobject_cast<QListWidget*>(w);
        if (control && w->isVisibleTo(group)) return true;
    }
    return false;
}

// Lets a numeric field take only what can be or become a number in its range; what it
// refuses is told through `refused` with the field's rule.
class NumberValidator : public QValidator {
public:
    NumberValidator(ps::EditorControl c, std::function<void(const QString&)> refused,
                    QObject* parent)
        : QValidator(parent), control_(c), refused_(std::move(refused)) {}
    State validate(QString& input, int&) const override {
        std::string why;
        switch (ps::CheckNumericField(control_, ToStationText(input), why)) {
            case ps::FieldCheck::Empty:
            case ps::FieldCheck::Number:
                return Acceptable;
            case ps::FieldCheck::Partial:
                return Intermediate;
            case ps::FieldCheck::Refused:
                break;
        }
        refused_(FromStationText(why));
        return Invalid;
    }

private:
    ps::EditorControl control_;
    std::function<void(const QString&)> refused_;
};

void SetTextKeepingTyping(QLineEdit* edit, const QString& text, Qt::CaseSensitivity cs) {
    // The text the operator is typing stays as typed while it says the same.
    if (QString::compare(edit->text(), text, cs) != 0) edit->setText(text);
}

}  // namespace

TPEditing::TPEditing(QWidget* parent) : QDialog(parent) {
    setObjectName("PEditing");
    setWindowTitle(QString::fromLatin1(StepEditorCaption));
    setModal(true);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(6, 6, 6, 6);
    column->setSpacing(4);
    column->addWidget(BuildTop());
    auto* middle = new QHBoxLayout;
    middle->setSpacing(6);
    auto* general = new QVBoxLayout;
    general->addWidget(BuildLeft());
    general->addWidget(BuildMiddle());
    general->addStretch(1);
    middle->addLayout(general);
    middle->addWidget(BuildRight(), 1, Qt::AlignTop);
    column->addLayout(middle, 1);
    FieldRule = new QLabel(this);
    FieldRule->setObjectName("FieldRule");
    FieldRule->setStyleSheet("color: #C00000;");
    FieldRule->setMinimumHeight(FieldRule->fontMetrics().height());
    column->addWidget(FieldRule);
    column->addWidget(BuildBottom());
    Refresh();
}

void TPEditing::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!sized_) {
        sized_ = true;
        FixSizeForEveryModel();
    }
}

// The editor is as large as the largest model needs, from the start: a window that changed
// its size with the model would move Save and Cancel under the operator's pointer.
// Measured when first shown, with the style and fonts in place; the file's lines and the
// current step are put back afterwards.
void TPEditing::FixSizeForEveryModel() {
    const std::vector<std::string> lines = editor_.Lines();
    const int step = editor_.CurrentStep();
    QSize largest = size();
    const auto measure = [&](std::vector<std::string> shown) {
        editor_.SetLines(std::move(shown));
        editor_.SetCurrentStep(1);
        Refresh();
        layout()->activate();
        largest = largest.expandedTo(sizeHint());
    };
    for (int m = 1; m < ps::ModelCount; ++m) measure({std::string(ps::ModelKey(m)) + "X.HEX"});
    for (int p = 0; p < ps::ProcessorCount; ++p)
        measure({std::string(ps::ModelKey(7)) + "X.HEX", "/ATMEL=" + std::to_string(p)});
    setFixedSize(largest);
    editor_.SetLines(lines);
    editor_.SetCurrentStep(step);
    Refresh();
}

// ---------------------------------------------------------------------------------------------
// Building

QCheckBox* TPEditing::Box(ps::EditorControl c, const char* caption, const char* name,
                          QWidget* parent) {
    auto* box = new QCheckBox(QString::fromLatin1(caption), parent);
    box->setObjectName(name);
    boxes_[c] = box;
    shows_[c] = box;
    connect(box, &QCheckBox::clicked, this, [this, c](bool on) {
        editor_.SetChecked(c, on);
        Refresh();
    });
    return box;
}

QCheckBox* TPEditing::Paired(ps::EditorControl c, const char* caption, const char* name,
                             QLineEdit*& edit, QWidget* parent) {
    auto* row = new QWidget(parent);
    auto* line = new QHBoxLayout(row);
    line->setContentsMargins(0, 0, 0, 0);
    auto* box = new QCheckBox(QString::fromLatin1(caption), row);
    box->setObjectName(name);
    edit = new QLineEdit(row);
    edit->setObjectName(QString(name) + "Edit");
    edit->setFixedWidth(PairedEditWidth);
    line->addWidget(box, 1);
    line->addWidget(edit);
    boxes_[c] = box;
    edits_[c] = edit;
    shows_[c] = row;
    QLineEdit* e = edit;
    connect(box, &QCheckBox::clicked, this, [this, c, e](bool on) {
        editor_.SetChecked(c, on, ToStationText(e->text()));
        Refresh();
    });
    NumericField(c, edit, caption);
    return box;
}

// A numeric field writes its line only when its text is a number in range (or empty, which
// takes the line out); while it is not, the field's rule is shown below.
void TPEditing::NumericField(ps::EditorControl c, QLineEdit* edit, const char* caption) {
    const QString name = QString::fromLatin1(caption).trimmed();
    auto tell = [this, name](const QString& why) {
        FieldRule->setText(why.isEmpty() ? QString() : name + ": " + why);
    };
    edit->setValidator(new NumberValidator(c, tell, edit));
    connect(edit, &QLineEdit::textEdited, this, [this, c, tell](const QString& text) {
        std::string why;
        if (ps::CheckNumericField(c, ToStationText(text), why) == ps::FieldCheck::Partial) {
            tell(FromStationText(why));
            return;
        }
        tell(QString());
        editor_.SetText(c, ToStationText(text));
        Refresh();
    });
}

QLineEdit* TPEditing::Field(ps::EditorControl c, const char* caption, const char* name,
                            QFormLayout* form, QWidget* parent) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(name);
    edit->setFixedWidth(FieldWidth);
    auto* label = new QLabel(QString::fromLatin1(caption), parent);
    label->setBuddy(edit);
    form->addRow(label, edit);
    edits_[c] = edit;
    labels_[c] = label;
    NumericField(c, edit, caption);
    return edit;
}

TRadioGroup* TPEditing::Choice(ps::EditorControl c, int columns, const char* name,
                               QWidget* parent) {
    auto* group = new TRadioGroup(ps::Control(c).Items, columns, parent);
    group->setObjectName(name);
    choices_[c] = group;
    shows_[c] = group;
    connect(group, &TRadioGroup::Clicked, this, [this, c](int index) {
        editor_.Choose(c, index);
        Refresh();
    });
    return group;
}

QWidget* TPEditing::BuildTop() {
    auto* top = new QWidget(this);
    auto* row = new QHBoxLayout(top);
    row->setContentsMargins(0, 0, 0, 0);

    ModelGroup = Group(ModelTitle, "ModelGroup", top);
    auto* modelRow = new QHBoxLayout(ModelGroup);
    ModelCombo = new QComboBox(ModelGroup);
    ModelCombo->setObjectName("ModelCombo");
    for (int m = 0; m < ps::ModelCount; ++m)
        ModelCombo->addItem(QString::fromLatin1(ps::ModelName(m)));
    modelRow->addWidget(ModelCombo);
    connect(ModelCombo, &QComboBox::activated, this, [this](int model) {
        editor_.SetModel(model, ToStationText(FnameEdit->text()));
        Refresh();
    });

    FileGroup = Group(FileTitle, "FileGroup", top);
    auto* fileRow = new QHBoxLayout(FileGroup);
    FnameEdit = new QLineEdit(FileGroup);
    FnameEdit->setObjectName("FnameEdit");
    BrowseBtn = new QPushButton(QString::fromLatin1(BrowseCaption), FileGroup);
    BrowseBtn->setObjectName("BrowseBtn");
    BrowseBtn->setAutoDefault(false);
    fileRow->addWidget(FnameEdit, 1);
    fileRow->addWidget(BrowseBtn);
    connect(FnameEdit, &QLineEdit::textEdited, this, [this](const QString& text) {
        editor_.SetFileName(ToStationText(text));
        Refresh();
    });
    connect(BrowseBtn, &QPushButton::clicked, this, &TPEditing::BrowseClick);

    row->addWidget(ModelGroup);
    row->addWidget(FileGroup, 1);
    return top;
}

QWidget* TPEditing::BuildLeft() {
    auto* left = new QWidget(this);
    auto* column = new QVBoxLayout(left);
    column->setContentsMargins(0, 0, 0, 0);

    ComSettings = Group(ComSettingsTitle, "ComSettings", left);
    auto* com = new QHBoxLayout(ComSettings);
    PortGroup = Group(PortTitle, "PortGroup", ComSettings);
    (new QVBoxLayout(PortGroup))
        ->addWidget(ComPort = Choice(ps::CtlComPort, 2, "ComPort", PortGroup));
    BaudGroup = Group(BaudTitle, "BaudGroup", ComSettings);
    (new QVBoxLayout(BaudGroup))
        ->addWidget(BaudRate = Choice(ps::CtlBaudRate, 3, "BaudRate", BaudGroup));
    com->addWidget(PortGroup, 0, Qt::AlignTop);
    com->addWidget(BaudGroup, 0, Qt::AlignTop);
    column->addWidget(ComSettings);

    auto* signalRow = new QHBoxLayout;
    ResetGroup = Group(ResetTitle, "ResetGroup", left);
    (new QVBoxLayout(ResetGroup))
        ->addWidget(ResetSign = Choice(ps::CtlResetSign, 2, "ResetSign", ResetGroup));
    BootGroup = Group(BootTitle, "BootGroup", left);
    (new QVBoxLayout(BootGroup))
        ->addWidget(BootSign = Choice(ps::CtlBootSign, 2, "BootSign", BootGroup));
    signalRow->addWidget(ResetGroup);
    signalRow->addWidget(BootGroup);
    column->addLayout(signalRow);

    auto* spaces = new QHBoxLayout;
    AddressGroup = Group(AddressTitle, "AddressGroup", left);
    auto* address = new QFormLayout(AddressGroup);
    StartAddr = Field(ps::CtlStartAddr, "Start address", "StartAddr", address, AddressGroup);
    LenAddr = Field(ps::CtlLenAddr, "Length (bytes)", "LenAddr", address, AddressGroup);
    VisualGroup = Group(VisualTitle, "VisualGroup", left);
    auto* visual = new QFormLayout(VisualGroup);
    LenBlock = Field(ps::CtlLenBlock, "Block Length (bytes)", "LenBlock", visual, VisualGroup);
    BlocksOnRow = Field(ps::CtlBlocksOnRow, "Blocks on row", "BlocksOnRow", visual, VisualGroup);
    spaces->addWidget(AddressGroup);
    spaces->addWidget(VisualGroup);
    column->addLayout(spaces);
    column->addStretch(1);
    return left;
}

QWidget* TPEditing::BuildMiddle() {
    auto* middle = new QWidget(this);
    auto* row = new QHBoxLayout(middle);
    row->setContentsMargins(0, 0, 0, 0);
    auto* column = new QVBoxLayout;

    BeforeGroup = Group(BeforeTitle, "BeforeGroup", middle);
    auto* before = new QVBoxLayout(BeforeGroup);
    before->setSpacing(1);
    before->addWidget(Boot = Box(ps::CtlBoot, "Boot", "Boot", BeforeGroup));
    before->addWidget(ResetS = Box(ps::CtlResetS, "Reset", "ResetS", BeforeGroup));
    before->addWidget(RamErase = Box(ps::CtlRamErase, "Erase RAM", "RamErase", BeforeGroup));
    before->addWidget(FlashID = Box(ps::CtlFlashId, "FLASH Identify", "FlashID", BeforeGroup));
    before->addWidget(FlashErase =
                          Box(ps::CtlFlashErase, "Erase FLASH", "FlashErase", BeforeGroup));
    BankPort = Paired(ps::CtlBankPort, "Set BANK Port", "BankPort", BankPortEdit, BeforeGroup);
    before->addWidget(shows_[ps::CtlBankPort]);
    EraseSec = Paired(ps::CtlEraseSec, "Erase sectors", "EraseSec", EraseSecEdit, BeforeGroup);
    before->addWidget(shows_[ps::CtlEraseSec]);
    before->addWidget(Sinhro = Box(ps::CtlSinhro, "Sinhronize", "Sinhro", BeforeGroup));
    before->addWidget(DeviceCheck =
                          Box(ps::CtlDeviceCheck, "Check ID", "DeviceCheck", BeforeGroup));
    before->addWidget(UnLock = Box(ps::CtlUnLock, "UnLock", "UnLock", BeforeGroup));
    before->addWidget(
        SimulateFLASH = Box(ps::CtlSimulateFlash, "Simulate FLASH", "SimulateFLASH", BeforeGroup));
    before->addWidget(
        AutoErase = Box(ps::CtlAutoErase, "Auto Sector Erase/Program", "AutoErase", BeforeGroup));
    before->addWidget(Usb = Box(ps::CtlUsb, "USB", "Usb", BeforeGroup));
    row->addWidget(BeforeGroup, 1, Qt::AlignTop);
    row->addLayout(column, 1);

    Infineon = new QGroupBox(middle);
    Infineon->setObjectName("Infineon");
    auto* infineon = new QFormLayout(Infineon);
    StartExtFlashAddr = Field(ps::CtlStartExtFlashAddr, "External Flash Address ",
                              "StartExtFlashAddr", infineon, Infineon);
    infineon->addRow(TestInt = Box(ps::CtlTestInt, "Test Internal Flash", "TestInt", Infineon));
    infineon->addRow(TestExt = Box(ps::CtlTestExt, "Test External Flash", "TestExt", Infineon));
    column->addWidget(Infineon);

    AfterGroup = Group(AfterTitle, "AfterGroup", middle);
    auto* after = new QVBoxLayout(AfterGroup);
    after->setSpacing(1);
    after->addWidget(AutoReset = Box(ps::CtlAutoReset, "Auto Reset", "AutoReset", AfterGroup));
    after->addWidget(AutoCont = Box(ps::CtlAutoCont, "Auto Continue", "AutoCont", AfterGroup));
    RunAddr = Paired(ps::CtlRunAddr, "Run at address", "RunAddr", RunAddrEdit, AfterGroup);
    after->addWidget(shows_[ps::CtlRunAddr]);
    after->addWidget(CheckSum = Box(ps::CtlCheckSum, "CheckSum", "CheckSum", AfterGroup));
    column->addWidget(AfterGroup);
    column->addStretch(1);
    return middle;
}

QWidget* TPEditing::BuildRight() {
    auto* right = new QWidget(this);
    auto* column = new QVBoxLayout(right);
    column->setContentsMargins(0, 0, 0, 0);

    auto* chip = new QHBoxLayout;
    AtmelBox = Group(ProcessorTitle, "AtmelBox", right);
    auto* atmel = new QVBoxLayout(AtmelBox);
    AtmelCombo = new QComboBox(AtmelBox);
    AtmelCombo->setObjectName("AtmelCombo");
    for (int p = 0; p < ps::ProcessorCount; ++p) {
        AtmelCombo->addItem(QString::fromLatin1(ps::Processor(p).Name));
    }
    atmel->addWidget(AtmelCombo);
    atmel->addWidget(panelEEprom = Choice(ps::CtlEeprom, 3, "panelEEprom", AtmelBox));
    connect(AtmelCombo, &QComboBox::activated, this, [this](int index) {
        editor_.SetProcessor(index);
        Refresh();
    });
    SpeedBox = Group(SpeedTitle, "SpeedBox", right);
    (new QVBoxLayout(SpeedBox))
        ->addWidget(SpeedSet = Choice(ps::CtlSpeedSet, 2, "SpeedSet", SpeedBox));
    chip->addWidget(AtmelBox, 1, Qt::AlignTop);
    chip->addWidget(SpeedBox, 0, Qt::AlignTop);
    column->addLayout(chip);

    Fuses = new QGroupBox(right);
    Fuses->setObjectName("Fuses");
    auto* fuses = new QVBoxLayout(Fuses);
    fuses->setSpacing(2);
    fuses->addWidget(FusesSet = Box(ps::CtlFusesSet, "Set Fuses", "FusesSet", Fuses));
    auto* fuseLists = new QHBoxLayout;
    FusesChk = CheckList("FusesChk", ps::FuseItemNames, Fuses);
    Coment = CommentList("Coment", FusesChk, Fuses);
    fuseLists->addWidget(FusesChk);
    fuseLists->addWidget(Coment, 1);
    fuses->addLayout(fuseLists);
    connect(FusesChk, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) {
        if (refreshing_) return;
        editor_.SetFuse(FusesChk->row(item), item->checkState() == Qt::Checked);
        Refresh();
    });
    column->addWidget(Fuses);

    Lock = new QGroupBox(right);
    Lock->setObjectName("Lock");
    auto* lock = new QVBoxLayout(Lock);
    lock->setSpacing(2);
    lock->addWidget(LockSet = Box(ps::CtlLockSet, "Lock", "LockSet", Lock));
    auto* lockLists = new QHBoxLayout;
    LockChk = CheckList("LockChk", ps::LockItemNames, Lock);
    ComentLock = CommentList("ComentLock", LockChk, Lock);
    lockLists->addWidget(LockChk);
    lockLists->addWidget(ComentLock, 1);
    lock->addLayout(lockLists);
    connect(LockChk, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) {
        if (refreshing_) return;
        editor_.SetLock(LockChk->row(item), item->checkState() == Qt::Checked);
        Refresh();
    });
    column->addWidget(Lock);
    column->addStretch(1);
    return right;
}

QWidget* TPEditing::BuildBottom() {
    auto* bottom = new QWidget(this);
    auto* row = new QHBoxLayout(bottom);
    row->setContentsMargins(0, 0, 0, 0);
    LabCfg = new TElidedLabel(bottom);
    LabCfg->SetFullText(QString::fromLatin1(StepFileLabelInitial));
    LabCfg->setObjectName("LabCfg");
    QFont bold = LabCfg->font();
    bold.setBold(true);
    LabCfg->setFont(bold);
    auto* stepLabel = new QLabel(QString::fromLatin1(StepNoCaption), bottom);
    LabKorak = new QLabel(bottom);
    LabKorak->setObjectName("LabKorak");
    LabKorak->setFont(bold);
    LabKorak->setMinimumWidth(24);
    LabKorak->setAlignment(Qt::AlignCenter);
    LabCount = new QLabel(bottom);
    LabCount->setObjectName("LabCount");
    UpDown1 = new TUpDown(bottom);
    UpDown1->setObjectName("UpDown1");
    connect(UpDown1, &TUpDown::Changed, this, [this](int step) {
        editor_.SetCurrentStep(step);
        Refresh();
    });
    auto button = [&](const char* caption, const char* name) {
        auto* b = new QPushButton(QString::fromLatin1(caption), bottom);
        b->setObjectName(name);
        b->setAutoDefault(false);
        return b;
    };
    AddStepBtn = button(AddStepCaption, "AddStepBtn");
    ClrStepBtn = button(ClrStepCaption, "ClrStepBtn");
    SaveBtn = button(SaveCaption, "SaveBtn");
    CancelBtn = button(CancelCaption, "CancelBtn");
    connect(AddStepBtn, &QPushButton::clicked, this, [this] {
        editor_.AddStep();
        editor_.SetCurrentStep(editor_.StepCount());  // the new step is the one to fill in
        Refresh();
    });
    connect(ClrStepBtn, &QPushButton::clicked, this, [this] {
        editor_.ClearStep();
        Refresh();
    });
    connect(SaveBtn, &QPushButton::clicked, this, &TPEditing::SaveClick);
    connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);

    row->addWidget(LabCfg, 1);
    row->addWidget(stepLabel);
    row->addWidget(LabKorak);
    row->addWidget(LabCount);
    row->addWidget(UpDown1);
    row->addSpacing(8);
    row->addWidget(AddStepBtn);
    row->addWidget(ClrStepBtn);
    row->addSpacing(24);
    row->addWidget(SaveBtn);
    row->addWidget(CancelBtn);
    return bottom;
}

// ---------------------------------------------------------------------------------------------
// Showing the step

void TPEditing::LoadFile(const QString& path) {
    path_ = path;
    editor_.Load(ToStationText(path));
    Refresh();
}

void TPEditing::SetCurrentStep(int step) {
    editor_.SetCurrentStep(step);
    Refresh();
}

void TPEditing::Refresh() {
    FieldRule->clear();  // the rule belongs to the keystroke it refused
    Show(editor_.Refresh());
}

void TPEditing::Show(const ps::StepView& v) {
    refreshing_ = true;
    view_ = v;
    LabCfg->SetFullText(path_.isEmpty() ? QString::fromLatin1(StepFileLabelInitial) : path_);
    LabKorak->setText(QString::number(v.CurrentStep));
    LabCount->setText(QString::fromLatin1(StepCountCaption) + QString::number(v.StepCount));
    UpDown1->setEnabled(v.StepNavigation);
    ClrStepBtn->setEnabled(v.StepNavigation);
    UpDown1->SetRange(v.StepNavigation ? 1 : 0, v.StepCount);
    UpDown1->SetPosition(v.CurrentStep);

    ModelCombo->setCurrentIndex(v.Model);
    FileGroup->setEnabled(v.FileGroupEnabled);
    const bool fileShown = v.Controls[ps::CtlFile].Visible;
    FnameEdit->setVisible(fileShown);
    BrowseBtn->setVisible(fileShown);
    SetTextKeepingTyping(FnameEdit, FromStationText(v.FileName), Qt::CaseInsensitive);

    for (int c = 0; c < ps::CtlCount; ++c) {
        const ps::ControlView& cv = v.Controls[c];
        if (shows_[c] != nullptr) shows_[c]->setVisible(cv.Visible);
        if (QCheckBox* box = boxes_[c]) box->setChecked(cv.Checked);
        if (QLineEdit* edit = edits_[c]) {
            SetTextKeepingTyping(edit, FromStationText(cv.Text), Qt::CaseSensitive);
            const bool paired =
                ps::Control(static_cast<ps::EditorControl>(c)).Kind == ps::ControlKind::Paired;
            edit->setEnabled(paired ? cv.Checked : cv.Enabled);
            if (!paired) {
                edit->setVisible(cv.Visible);
                labels_[c]->setVisible(cv.Visible);
            }
        }
        if (TRadioGroup* choice = choices_[c]) choice->SetItemIndex(cv.Index);
    }
    const auto& ctl = v.Controls;
    const bool signalGroups = ctl[ps::CtlSignalGroups].Visible;
    // A group is shown when the model shows it and it has a control to show: an empty
    // frame tells the operator nothing. Inner groups first.
    const std::pair<QGroupBox*, bool> groups[] = {
        {PortGroup, true},
        {BaudGroup, signalGroups},
        {ResetGroup, signalGroups},
        {BootGroup, signalGroups},
        {AddressGroup, signalGroups},
        {VisualGroup, true},
        {BeforeGroup, ctl[ps::CtlBeforeProgramming].Visible},
        {Infineon, ctl[ps::CtlInfineon].Visible},
        {AfterGroup, true},
        {AtmelBox, ctl[ps::CtlAtmelBox].Visible},
        {SpeedBox, ctl[ps::CtlSpeedSet].Visible},
        {Fuses, ctl[ps::CtlFuses].Visible},
        {Lock, ctl[ps::CtlLock].Visible},
        {ComSettings, true},
    };
    for (const auto& [group, shown] : groups) group->setVisible(shown && HasShownControl(group));

    AtmelCombo->setCurrentIndex(v.Processor);
    for (int i = 0; i < ps::FuseItemCount; ++i) {
        QListWidgetItem* item = FusesChk->item(i);
        Qt::ItemFlags flags = Qt::ItemIsUserCheckable | Qt::ItemIsSelectable;
        if (v.FuseEnabled[i]) flags |= Qt::ItemIsEnabled;
        item->setFlags(flags);
        item->setCheckState(v.FuseChecked[i] ? Qt::Checked : Qt::Unchecked);
    }
    for (int i = 0; i < ps::LockItemCount; ++i) {
        QListWidgetItem* item = LockChk->item(i);
        Qt::ItemFlags flags = Qt::ItemIsUserCheckable | Qt::ItemIsSelectable;
        if (v.LockEnabled[i]) flags |= Qt::ItemIsEnabled;
        item->setFlags(flags);
        item->setCheckState(v.LockChecked[i] ? Qt::Checked : Qt::Unchecked);
    }
    FusesChk->setEnabled(v.FuseListEnabled);
    LockChk->setEnabled(v.LockListEnabled);
    Coment->clear();
    for (const std::string& line : v.FuseComment) Coment->addItem(QString::fromLatin1(line));
    ComentLock->clear();
    for (const std::string& line : v.LockComment) ComentLock->addItem(QString::fromLatin1(line));
    refreshing_ = false;
}

// ---------------------------------------------------------------------------------------------
// Buttons

void TPEditing::BrowseClick() {
    const QString chosen = ChooseFile(this, QString::fromLatin1(ps::FileDialogTitle),
                                      QtFileFilter(ps::ImageFileFilter));
    if (chosen.isEmpty()) return;
    const QString name =
        FromStationText(ps::ImagePathForStep(ToStationText(path_), ToStationText(chosen)));
    FnameEdit->setText(name);
    editor_.SetFileName(ToStationText(name));
    Refresh();
}

void TPEditing::SaveClick() {
    std::string message;
    if (editor_.Save(ToStationText(path_), message)) {
        accept();
        return;
    }
    // The editor stays open with the operator's work: it can be saved again once the
    // folder can be written, or given up with Cancel.
    QMessageBox box(QMessageBox::Critical, windowTitle(), FromStationText(message), QMessageBox::Ok,
                    this);
    box.setDetailedText(JoinLines(ps::WriteHints(ToStationText(path_))));
    box.exec();
}

}  // namespace ps::gui

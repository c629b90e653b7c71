// SPDX-License-Identifier: MIT
#pragma once
#include <QDialog>
#include <array>

#include "EditorWidgets.h"
#include "projects/StepEditor.h"

class QCheckBox;
class QComboBox;
class QFormLayout;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace ps::gui {

// The editor's own texts.
inline constexpr const char* StepEditorCaption = "Create Project";
inline constexpr const char* StepFileLabelInitial = "*.CFG";
inline constexpr const char* StepNoCaption = "Step No.";
inline constexpr const char* AddStepCaption = "ADD Step";
inline constexpr const char* ClrStepCaption = "CLR Step";
inline constexpr const char* SaveCaption = "Save";
inline constexpr const char* CancelCaption = "Cancel";
inline constexpr const char* BrowseCaption = "Browse";
// Beside the step number: how many steps the file has.
inline constexpr const char* StepCountCaption = "of ";

// The project step editor: the step file as check boxes, lists and edit fields. Every
// change the operator makes writes one line of the current step (the core's StepEditor)
// and shows the step again; "Save" writes the file and closes.
class TPEditing : public QDialog {
    Q_OBJECT
public:
    explicit TPEditing(QWidget* parent = nullptr);

    // Loads the step file the projects dialog names (it is also the file Save writes).
    void LoadFile(const QString& path);
    void SetCurrentStep(int step);
    const ps::StepEditor& Editor() const { return editor_; }
    const ps::StepView& View() const { return view_; }
    QString FilePath() const { return path_; }

    // "Browse" asks this for the image file.
    FileChooser ChooseFile = ChooseFileWithDialog;

    // Controls, named as the station's documents name them.
    QGroupBox* ModelGroup;
    QComboBox* ModelCombo;
    QGroupBox* FileGroup;
    QLineEdit* FnameEdit;
    QPushButton* BrowseBtn;
    QGroupBox* ComSettings;
    QGroupBox* PortGroup;
    TRadioGroup* ComPort;
    QGroupBox* BaudGroup;
    TRadioGroup* BaudRate;
    QGroupBox* ResetGroup;
    TRadioGroup* ResetSign;
    QGroupBox* BootGroup;
    TRadioGroup* BootSign;
    QGroupBox* BeforeGroup;
    QCheckBox* Boot;
    QCheckBox* ResetS;
    QCheckBox* RamErase;
    QCheckBox* FlashID;
    QCheckBox* FlashErase;
    QCheckBox* BankPort;
    QLineEdit* BankPortEdit;
    QCheckBox* EraseSec;
    QLineEdit* EraseSecEdit;
    QCheckBox* Sinhro;
    QCheckBox* DeviceCheck;
    QCheckBox* UnLock;
    QCheckBox* SimulateFLASH;
    QCheckBox* AutoErase;
    QCheckBox* Usb;
    QGroupBox* Infineon;
    QLineEdit* StartExtFlashAddr;
    QCheckBox* TestInt;
    QCheckBox* TestExt;
    QGroupBox* AddressGroup;
    QLineEdit* StartAddr;
    QLineEdit* LenAddr;
    QGroupBox* VisualGroup;
    QLineEdit* LenBlock;
    QLineEdit* BlocksOnRow;
    QGroupBox* AfterGroup;
    QCheckBox* AutoReset;
    QCheckBox* AutoCont;
    QCheckBox* RunAddr;
    QLineEdit* RunAddrEdit;
    QCheckBox* CheckSum;
    QGroupBox* AtmelBox;
    QComboBox* AtmelCombo;
    TRadioGroup* panelEEprom;
    QGroupBox* SpeedBox;
    TRadioGroup* SpeedSet;
    QGroupBox* Fuses;
    QCheckBox* FusesSet;
    QListWidget* FusesChk;
    QListWidget* Coment;
    QGroupBox* Lock;
    QCheckBox* LockSet;
    QListWidget* LockChk;
    QListWidget* ComentLock;
    TElidedLabel* LabCfg;
    QLabel* LabKorak;
    QLabel* LabCount;   // "of " and the step count
    QLabel* FieldRule;  // why a numeric field does not take what was typed
    TUpDown* UpDown1;
    QPushButton* AddStepBtn;
    QPushButton* ClrStepBtn;
    QPushButton* SaveBtn;
    QPushButton* CancelBtn;

private:
    QWidget* BuildTop();
    QWidget* BuildLeft();
    QWidget* BuildMiddle();
    QWidget* BuildRight();
    QWidget* BuildBottom();
    QCheckBox* Box(ps::EditorControl c, const char* caption, const char* name, QWidget* parent);
    QLineEdit* Field(ps::EditorControl c, const char* caption, const char* name, QFormLayout* form,
                     QWidget* parent);
    TRadioGroup* Choice(ps::EditorControl c, int columns, const char* name, QWidget* parent);
    QCheckBox* Paired(ps::EditorControl c, const char* caption, const char* name, QLineEdit*& edit,
                      QWidget* parent);

    void showEvent(QShowEvent* event) override;
    void NumericField(ps::EditorControl c, QLineEdit* edit, const char* caption);
    void FixSizeForEveryModel();
    // After every action of the operator: the step as it now is.
    void Refresh();
    void Show(const ps::StepView& view);
    void SaveClick();
    void BrowseClick();

    ps::StepEditor editor_;
    ps::StepView view_;
    QString path_;
    // What each control shows and hides: the widget (with its label) per control.
    std::array<QWidget*, ps::CtlCount> shows_{};
    std::array<QCheckBox*, ps::CtlCount> boxes_{};
    std::array<QLineEdit*, ps::CtlCount> edits_{};
    std::array<QLabel*, ps::CtlCount> labels_{};
    std::array<TRadioGroup*, ps::CtlCount> choices_{};
    bool refreshing_ = false;
    bool sized_ = false;
};

}  // namespace ps::gui

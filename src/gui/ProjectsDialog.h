// SPDX-License-Identifier: MIT
#pragma once
#include <QDialog>

#include "EditorWidgets.h"
#include "projects/ProjectList.h"

class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace ps {
class Station;
}

namespace ps::gui {

class TForm1;
class TPEditing;

// The dialog's own texts ("Projects", "Cancel" and "Browse" are the main window's and the
// step editor's).
inline constexpr const char* AddCaption = "Add";
inline constexpr const char* EditCaption = "Edit";
inline constexpr const char* RemoveCaption = "Remove";
inline constexpr const char* ExtraParametersCaption = "Extra parameters:";
inline constexpr const char* OkCaption = "OK";
inline constexpr const char* ShortcutCaption = "SHORTCUT:";
inline constexpr const char* ProjectNameCaption = "PROJECT NAME:";
inline constexpr const char* FileNameCaption = "FILE NAME:";
inline constexpr const char* AddEntryCaption = "ADD";
inline constexpr const char* CopyCaption = "Copy";
inline constexpr const char* CutCaption = "Cut";
inline constexpr const char* PasteCaption = "Paste";
inline constexpr const char* AddFolderCaption = "Add Folder";
// Shown when OK could not write PROGRAMMER.INI; a line break and the file name follow.
inline constexpr const char* TextErrorWritingSettings = "ERROR writing file ";

// The projects dialog: the project list of PROGRAMMER.INI as a tree, the entry panel that
// adds or edits one project, and the way to the step editor. Every opening reads the list
// from the settings file again; OK writes it back and selects the current project.
class TProjects : public QDialog {
    Q_OBJECT
public:
    TProjects(ps::Station& station, TPEditing& editor, QWidget* parent = nullptr);

    // As the main window's "Projects" button: the list panel, modally. Refused (false)
    // while a run is under way, which must keep its project.
    bool OpenList();

    const ps::ProjectTree& Tree() const { return tree_; }
    int SelectedId() const { return selected_; }
    int CurrentId() const { return current_; }
    int RememberedId() const { return remembered_; }
    QTreeWidgetItem* ItemOf(int id) const;

    // Where OK writes: the station's settings files (by default the one file it reads).
    // After a write the file written is the one the station reads.
    void SetSettingsFiles(const ps::SettingsFiles& files) { files_ = files; }

    // "Browse" asks this for the step file.
    FileChooser ChooseFile = ChooseFileWithDialog;

    // Controls, named as the station's documents name them.
    QWidget* Panel1;  // the list panel
    QTreeWidget* TreeView1;
    QPushButton* AddBtn;
    QPushButton* EditBtn;
    QPushButton* RemoveBtn;
    QLineEdit* ExtraEdit;
    QPushButton* OkBtn;
    QPushButton* CancelBtn;
    QMenu* PopupMenu1;
    QAction* CopyAction;
    QAction* CutAction;
    QAction* PasteAction;
    QAction* AddFolderAction;
    QWidget* Panel2;  // the entry panel
    QLineEdit* ShortcutEdit;
    QLineEdit* NameEdit;
    QLineEdit* FileEdit;
    QPushButton* BrowseBtn;
    QPushButton* AddEntryBtn;
    QPushButton* EditEntryBtn;
    QPushButton* CancelEntryBtn;

    void reject() override;  // Escape on the entry panel returns to the list

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* BuildListPanel();
    QLayout* BuildTreeRow();  // the tree and the buttons beside it
    QLayout* BuildOkCancelRow();
    void BuildPopupMenu();
    void ConnectListPanel();
    QWidget* BuildEntryPanel();
    void Fill();
    void Rebuild();
    void UpdateButtons();
    void ShowList();
    void ShowEntry();
    int IdOf(QTreeWidgetItem* item) const;

    void AddClick();
    void EditClick();
    void RemoveClick();
    void OkClick();
    void CopyClick();
    void CutClick();
    void PasteClick();
    void AddFolderClick();
    void BrowseClick();
    void AddEntryClick();
    void EditEntryClick();

    ps::Station& station_;
    TPEditing& editor_;
    ps::SettingsFiles files_;
    ps::ProjectTree tree_;
    int selected_ = 0;    // the selected node's id
    int current_ = 0;     // the node the popup menu acts on
    int remembered_ = 0;  // copied or cut
    bool cut_ = false;
    bool editMode_ = false;  // the entry panel edits the selected node (else adds one)
    bool rebuilding_ = false;
};

// The main window's "Projects" button opens the list panel.
void ConnectProjectsButton(TForm1& form, TProjects& projects);

}  // namespace ps::gui

// SPDX-License-Identifier: MIT
// The projects dialog and the step editor, driven with the mouse and the keyboard as an
// operator drives them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>

#include "MainWindow.h"
#include "ProjectsDialog.h"
#include "StationSetup.h"
#include "StepEditor.h"
#include "projects/ProjectList.h"
#include "projects/Settings.h"
#include "projects/StepFile.h"
#include "projects/TempDir.h"
#include "sim/VirtualClock.h"

using namespace ps::gui;

namespace {

using Lines = std::vector<std::string>;

void Click(QWidget* w) {
    QTest::mouseClick(w, Qt::LeftButton, {}, w->rect().center());
}

// A check box takes clicks on its box and its caption, at its left.
void Click(QCheckBox* box) {
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2));
}

// Acts once the next modal loop runs (a dialog's exec), from inside it.
void WhenModal(std::function<void()> act) {
    QTimer::singleShot(0, qApp, std::move(act));
}

// Closes the message box that is up, after noting its text.
void AnswerMessageBox(QString& seen, QString* details = nullptr) {
    WhenModal([&seen, details] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(w);
            if (box == nullptr || !box->isVisible()) continue;
            seen = box->text();
            if (details) *details = box->detailedText();
            box->button(QMessageBox::Ok)->click();
        }
    });
}

class DialogsFixture : public ::testing::Test {
protected:
    void SetUp() override {
        char buf[4096];
        oldDir_ = getcwd(buf, sizeof buf) ? buf : ".";
        ASSERT_EQ(chdir(dir_.Path().c_str()), 0);
        form_ = std::make_unique<TForm1>(&clock_);
        form_->St().IniPath = dir_.File(ps::SettingsFileName);
        editor_ = std::make_unique<TPEditing>(form_.get());
        projects_ = std::make_unique<TProjects>(form_->St(), *editor_, form_.get());
    }
    void TearDown() override {
        projects_.reset();
        editor_.reset();
        form_.reset();
        (void)chdir(oldDir_.c_str());
    }

    std::string Ini() const { return dir_.File(ps::SettingsFileName); }
    std::string Setting(const char* section, const std::string& key) {
        return ps::ReadSetting(Ini(), section, key, "<missing>");
    }
    void WriteProjects(const Lines& entries, const std::string& init) {
        std::string ini = "[INIT]\r\nVersion=3\r\n" + init + "[PROJECTS]\r\n";
        for (size_t i = 0; i < entries.size(); ++i) {
            ini += "Project" + std::to_string(i + 1) + "=" + entries[i] + "\r\n";
        }
        dir_.Write(ps::SettingsFileName, ini);
    }
    // Opens the dialog without a modal loop of its own, as the tests drive it directly.
    TProjects& Open() {
        projects_->show();
        projects_->activateWindow();
        // The keys of the popup menu act on the focused tree of the active window.
        for (int i = 0; i < 100000 && !projects_->isActiveWindow(); ++i) {
            QApplication::processEvents();
        }
        return *projects_;
    }
    QTreeWidgetItem* Node(const char* name) {
        auto found = projects_->TreeView1->findItems(name, Qt::MatchExactly | Qt::MatchRecursive);
        return found.isEmpty() ? nullptr : found.front();
    }
    QString SelectedName() {
        auto items = projects_->TreeView1->selectedItems();
        return items.isEmpty() ? QString() : items.front()->text(0);
    }
    void PressOn(QTreeWidgetItem* item, Qt::MouseButton button = Qt::LeftButton) {
        QTreeWidget* tree = projects_->TreeView1;
        QPoint at =
            item ? tree->visualItemRect(item).center() : QPoint(5, tree->viewport()->height() - 5);
        QTest::mouseClick(tree->viewport(), button, {}, at);
    }

    ps::test::TempDir dir_;
    std::string oldDir_;
    ps::sim::VirtualClock clock_;
    std::unique_ptr<TForm1> form_;
    std::unique_ptr<TPEditing> editor_;
    std::unique_ptr<TProjects> projects_;
};

TEST_F(DialogsFixture, ProjectsListFromTheFileAndBackOnOk) {
    WriteProjects({"0~~PLANT~~", "1~001~UPGRADE~upgrade.cfg~", "2~002~DEEP~deep.cfg~",
                   "1~003~SECOND~second.cfg~", "0~004~TOP~top.cfg~"},
                  "SelectedFile=3\r\nExtraParameters=/AUTOCONTINUE\r\n");
    TProjects& p = Open();
    EXPECT_EQ(p.windowTitle(), QString("Projects"));
    EXPECT_TRUE(p.Panel1->isVisible());
    EXPECT_FALSE(p.Panel2->isVisible());
    ASSERT_EQ(p.TreeView1->topLevelItemCount(), 2);
    EXPECT_EQ(Node("PLANT")->childCount(), 2);
    EXPECT_EQ(Node("UPGRADE")->child(0)->text(0), QString("DEEP"));
    EXPECT_EQ(SelectedName(), QString("DEEP"));
    EXPECT_EQ(p.TreeView1->toolTip(), QString("DEEP"));
    EXPECT_EQ(p.ExtraEdit->text(), QString("/AUTOCONTINUE"));
    EXPECT_TRUE(p.OkBtn->isEnabled());

    // The keyboard moves the selection; the extra parameters are typed.
    p.TreeView1->setFocus();
    QTest::keyClick(p.TreeView1, Qt::Key_Down);
    EXPECT_EQ(SelectedName(), QString("SECOND"));
    p.ExtraEdit->selectAll();
    QTest::keyClicks(p.ExtraEdit, "/BAUDRATE=9600 /AUTOCONTINUE");
    // Enter presses OK, the dialog's default button.
    QTest::keyClick(p.ExtraEdit, Qt::Key_Return);
    EXPECT_FALSE(p.isVisible());
    EXPECT_EQ(p.result(), QDialog::Accepted);
    EXPECT_EQ(Setting("INIT", "SelectedFile"), "4");
    EXPECT_EQ(Setting("INIT", "ExtraParameters"), "/BAUDRATE=9600 /AUTOCONTINUE");
    EXPECT_EQ(Setting("INIT", "Version"), "3");
    EXPECT_EQ(Setting("PROJECTS", "Project3"), "2~002~DEEP~deep.cfg~");
    EXPECT_EQ(Setting("PROJECTS", "Project6"), "");
    // OK selects the current project again, with the new extra parameters.
    EXPECT_EQ(form_->St().Project.ExtraParameters, "/BAUDRATE=9600 /AUTOCONTINUE");
    EXPECT_EQ(form_->St().Project.StepFile, "upgrade.cfg");
}

TEST_F(DialogsFixture, AddEditAndRemoveProjects) {
    WriteProjects({"0~004~OLD~old.cfg~"}, "");
    TProjects& p = Open();
    EXPECT_FALSE(p.OkBtn->isEnabled());  // nothing selected
    EXPECT_FALSE(p.EditBtn->isEnabled());
    EXPECT_FALSE(p.RemoveBtn->isEnabled());

    Click(p.AddBtn);
    EXPECT_FALSE(p.Panel1->isVisible());
    EXPECT_TRUE(p.Panel2->isVisible());
    EXPECT_EQ(p.ShortcutEdit->text(), QString("005"));
    EXPECT_FALSE(p.AddEntryBtn->isEnabled());  // no file name yet
    QTest::keyClicks(p.NameEdit, "NEW~ONE");   // "~" is refused as typed
    EXPECT_EQ(p.NameEdit->text(), QString("NEWONE"));
    p.ShortcutEdit->setText("7");
    p.FileEdit->setFocus();
    QTest::keyClicks(p.FileEdit, "new.cfg");
    EXPECT_TRUE(p.AddEntryBtn->isEnabled());
    QTest::keyClick(p.FileEdit, Qt::Key_Return);  // ADD is the default button here
    EXPECT_TRUE(p.Panel1->isVisible());
    EXPECT_EQ(SelectedName(), QString("NEWONE"));
    const ps::ProjectNode* added = p.Tree().Find(p.SelectedId());
    ASSERT_NE(added, nullptr);
    EXPECT_EQ(added->Number, "007");
    EXPECT_EQ(added->Path, "new.cfg");
    EXPECT_EQ(added->Level, 0);

    // Edit fills the fields from the node; a long shortcut is cut to three characters.
    Click(p.EditBtn);
    EXPECT_EQ(p.NameEdit->text(), QString("NEWONE"));
    EXPECT_EQ(p.FileEdit->text(), QString("new.cfg"));
    p.ShortcutEdit->setText("12345");
    Click(p.AddEntryBtn);
    EXPECT_EQ(p.Tree().Find(p.SelectedId())->Number, "123");
    EXPECT_EQ(p.Tree().Count(), 2);

    // Escape leaves the entry panel for the list, not the dialog.
    Click(p.AddBtn);
    QTest::keyClick(p.NameEdit, Qt::Key_Escape);
    EXPECT_TRUE(p.isVisible());
    EXPECT_TRUE(p.Panel1->isVisible());
    EXPECT_EQ(p.Tree().Count(), 2);

    Click(p.RemoveBtn);
    EXPECT_EQ(p.Tree().Count(), 1);
    EXPECT_FALSE(p.OkBtn->isEnabled());
    // Cancel writes nothing, and the next opening reads the file again.
    Click(p.CancelBtn);
    EXPECT_FALSE(p.isVisible());
    EXPECT_EQ(Setting("PROJECTS", "Project2"), "<missing>");
    Open();
    EXPECT_EQ(p.Tree().Count(), 1);
    EXPECT_EQ(p.Tree().Nodes()[0].Name, "OLD");
}

TEST_F(DialogsFixture, PopupMenuMovesNodes) {
    WriteProjects({"0~~A~~", "1~001~A1~a1.cfg~", "0~~B~~", "0~002~C~c.cfg~"}, "");
    TProjects& p = Open();
    QTreeWidget* tree = p.TreeView1;
    tree->setFocus();

    // Cut with the keyboard: the node shows cut until it is pasted.
    PressOn(Node("A"));
    QTest::keyClick(tree, Qt::Key_X, Qt::ControlModifier);
    EXPECT_TRUE(Node("A")->font(0).italic());
    // Paste under B: A moves with its child to the end of B's children.
    PressOn(Node("B"));
    QTest::keyClick(tree, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(Node("A")->parent(), Node("B"));
    EXPECT_EQ(Node("A1")->parent(), Node("A"));
    EXPECT_FALSE(Node("A")->font(0).italic());
    EXPECT_EQ(SelectedName(), QString("B"));

    // Copy does not duplicate: it moves as well.
    PressOn(Node("C"));
    QTest::keyClick(tree, Qt::Key_C, Qt::ControlModifier);
    PressOn(Node("A1"));
    QTest::keyClick(tree, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(Node("C")->parent(), Node("A1"));
    EXPECT_EQ(p.Tree().Count(), 4);

    // Pasting a node into its own child is refused; it stays remembered.
    PressOn(Node("B"));
    QTest::keyClick(tree, Qt::Key_X, Qt::ControlModifier);
    PressOn(Node("C"));
    QTest::keyClick(tree, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(Node("B")->parent(), nullptr);
    EXPECT_EQ(p.RememberedId(), p.Tree().Nodes()[0].Id);
    // A press on empty space leaves no current node: the paste goes to the top level.
    PressOn(Node("C"));
    QTest::keyClick(tree, Qt::Key_X, Qt::ControlModifier);
    PressOn(nullptr);
    EXPECT_EQ(p.CurrentId(), 0);
    QTest::keyClick(tree, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(Node("C")->parent(), nullptr);
    EXPECT_EQ(tree->indexOfTopLevelItem(Node("C")), 1);

    // "Add Folder" from the popup menu, chosen with the mouse whenever the menu is up.
    QTimer chooser;
    chooser.setInterval(0);
    QObject::connect(&chooser, &QTimer::timeout, [&p] {
        if (!p.PopupMenu1->isVisible()) return;
        QTest::mouseClick(p.PopupMenu1, Qt::LeftButton, {},
                          p.PopupMenu1->actionGeometry(p.AddFolderAction).center());
        if (p.PopupMenu1->isVisible()) p.PopupMenu1->close();  // never left hanging
    });
    chooser.start();
    PressOn(Node("B"), Qt::RightButton);
    emit tree->customContextMenuRequested(tree->visualItemRect(Node("B")).center());
    chooser.stop();
    ASSERT_NE(Node("???"), nullptr);
    EXPECT_EQ(Node("???")->parent(), nullptr);
    EXPECT_EQ(SelectedName(), QString("???"));
    EXPECT_EQ(p.Tree().Find(p.SelectedId())->IsFolder(), true);

    // In-place editing: F2, a new name, Enter.
    QTest::keyClick(tree, Qt::Key_F2);
    auto* line = tree->findChild<QLineEdit*>();
    ASSERT_NE(line, nullptr);
    line->selectAll();
    QTest::keyClicks(line, "TOOLS~X");
    QTest::keyClick(line, Qt::Key_Return);
    QApplication::processEvents();
    EXPECT_EQ(p.Tree().Find(p.SelectedId())->Name, "TOOLSX");

    Click(p.OkBtn);
    ps::ProjectSettings back = ps::LoadProjectSettings(Ini());
    std::string shape;
    for (const ps::ProjectNode& n : back.Tree.Nodes())
        shape += std::to_string(n.Level) + n.Name + " ";
    EXPECT_EQ(shape, "0B 1A 2A1 0C 0TOOLSX ");
    EXPECT_EQ(back.SelectedPosition, 5);
}

TEST_F(DialogsFixture, EntryEditOpensTheStepEditorModally) {
    dir_.Write("p.cfg", "; old comment\r\n/PB=a.hex\r\n/Boot\r\n");
    WriteProjects({"0~001~P~p.cfg~"}, "SelectedFile=1\r\n");
    TProjects& p = Open();
    Click(p.EditBtn);
    bool sawEditor = false;
    WhenModal([&] {
        TPEditing& e = *editor_;
        sawEditor = e.isVisible() && e.isModal();
        EXPECT_EQ(e.windowTitle(), QString("Create Project"));
        EXPECT_EQ(e.LabCfg->FullText(), QString("p.cfg"));
        EXPECT_EQ(e.LabKorak->text(), QString("1"));
        EXPECT_EQ(e.ModelCombo->currentText(), QString("INTEL - BOOT"));
        EXPECT_TRUE(e.Boot->isChecked());
        Click(e.AutoCont);
        Click(e.SaveBtn);
        if (e.isVisible()) e.done(QDialog::Rejected);  // never left hanging
    });
    Click(p.EditEntryBtn);
    EXPECT_TRUE(sawEditor);
    EXPECT_FALSE(editor_->isVisible());
    // After the editor, the entry is taken as ADD takes it.
    EXPECT_TRUE(p.Panel1->isVisible());
    EXPECT_EQ(p.Tree().Count(), 1);
    EXPECT_EQ(ps::test::ReadBytes(dir_.File("p.cfg")),
              "; old comment\r\n/AutoContinue\r\n/PB=a.hex\r\n/Boot\r\n");
}

TEST_F(DialogsFixture, StepEditorDrivenAsAnOperatorDoes) {
    const std::string path =
        dir_.Write("s.cfg", "/P=a.hex\r\n/SimulateFlash\r\n*** NEXT ***\r\n/PA=b.hex\r\n/Boot\r\n");
    TPEditing& e = *editor_;
    e.LoadFile(QString::fromStdString(path));
    e.SetCurrentStep(1);
    e.show();
    QApplication::processEvents();
    EXPECT_EQ(e.LabKorak->text(), QString("1"));
    EXPECT_EQ(e.ModelCombo->currentText(), QString("MOTOROLA"));
    EXPECT_EQ(e.FnameEdit->text(), QString("A.HEX"));
    EXPECT_FALSE(e.SimulateFLASH->isVisible());  // never shown; its line stays
    EXPECT_TRUE(e.Sinhro->isVisible());
    EXPECT_TRUE(e.UpDown1->isEnabled());

    // The model is chosen with the keyboard: INTEL - BOOT replaces the model line in place.
    e.ModelCombo->setFocus();
    QTest::keyClick(e.ModelCombo, Qt::Key_Down);
    EXPECT_EQ(e.Editor().Lines()[0], "/PB=a.hex");
    EXPECT_FALSE(e.Sinhro->isVisible());
    // A baud rate with the mouse, a field typed: only a number goes in, and the field says
    // what it takes.
    Click(e.BaudRate->Item(4));
    QTest::keyClicks(e.StartAddr, "z");
    EXPECT_EQ(e.StartAddr->text(), QString());
    EXPECT_EQ(e.FieldRule->text(),
              QString("Start address: a number from 0 to 2147483647 ($7FFFFFFF): decimal digits, "
                      "or hex digits after $ or 0x"));
    QTest::keyClicks(e.StartAddr, "$8000");
    EXPECT_EQ(e.FieldRule->text(), QString());
    EXPECT_EQ(e.Editor().Lines(), (Lines{"/AddrStart=$8000", "/BaudRate=9600", "/PB=a.hex",
                                         "/SimulateFlash", "*** NEXT ***", "/PA=b.hex", "/Boot"}));
    QTest::keyClicks(e.BlocksOnRow, "0");  // below the least: not written, the rule shown
    EXPECT_FALSE(e.FieldRule->text().isEmpty());
    EXPECT_EQ(e.Editor().Lines().size(), 7u);
    QTest::keyClick(e.BlocksOnRow, Qt::Key_Backspace);

    // The arrow key moves to step 2, where ATMEL hides "Boot" and keeps its line.
    QApplication::processEvents();
    const QPoint savePlace = e.SaveBtn->mapTo(&e, QPoint());
    const QSize editorSize = e.size();
    e.UpDown1->setFocus();
    QTest::keyClick(e.UpDown1, Qt::Key_Up);
    EXPECT_EQ(e.LabKorak->text(), QString("2"));
    EXPECT_EQ(e.LabCount->text(), QString("of 2"));
    EXPECT_EQ(e.Editor().Lines().back(), "/Boot");
    EXPECT_FALSE(e.Boot->isVisible());
    QApplication::processEvents();
    EXPECT_EQ(e.SaveBtn->mapTo(&e, QPoint()), savePlace);  // the editor keeps its size
    EXPECT_EQ(e.size(), editorSize);
    EXPECT_TRUE(e.AtmelBox->isVisible());
    // ATmega16 writes three lines; the start address is fixed at 0.
    e.AtmelCombo->setFocus();
    QTest::keyClick(e.AtmelCombo, Qt::Key_End);
    EXPECT_EQ(e.AtmelCombo->currentText(), QString("ATmega16"));
    EXPECT_EQ(e.StartAddr->text(), QString("0"));
    EXPECT_FALSE(e.StartAddr->isEnabled());
    EXPECT_EQ(e.LenAddr->text(), QString("16384"));
    // The fuse list follows "Set Fuses"; a click on an item writes all sixteen.
    EXPECT_FALSE(e.FusesChk->isEnabled());
    Click(e.FusesSet);
    EXPECT_TRUE(e.FusesChk->isEnabled());
    QListWidgetItem* ckopt = e.FusesChk->item(12);
    ckopt->setCheckState(Qt::Checked);  // as a click on its box does
    EXPECT_EQ(e.Coment->item(e.Coment->count() - 1)->text(), QString("XTAL \"HI\" SIGNAL"));
    EXPECT_FALSE(e.FusesChk->item(ps::FuseItemSpien)->flags() & Qt::ItemIsEnabled);
    EXPECT_EQ(e.Editor().Lines()[5], "/FUSES=N0000000000001100");

    // ADD Step shows the new step; CLR Step clears it again.
    Click(e.AddStepBtn);
    EXPECT_EQ(e.UpDown1->Max(), 3);
    EXPECT_EQ(e.LabKorak->text(), QString("3"));
    EXPECT_EQ(e.LabCount->text(), QString("of 3"));
    EXPECT_EQ(e.ModelCombo->currentText(), QString("None"));
    Click(e.ClrStepBtn);
    EXPECT_EQ(e.Editor().StepCount(), 2);
    EXPECT_EQ(e.LabKorak->text(), QString("2"));
    EXPECT_EQ(e.Editor().Lines().back(), "/Boot");
    QApplication::processEvents();
    EXPECT_EQ(e.SaveBtn->mapTo(&e, QPoint()), savePlace);

    Click(e.SaveBtn);
    EXPECT_FALSE(e.isVisible());
    EXPECT_EQ(e.result(), QDialog::Accepted);
    EXPECT_EQ(ps::test::ReadBytes(path),
              "/AddrStart=$8000\r\n/BaudRate=9600\r\n/PB=a.hex\r\n/SimulateFlash\r\n"
              "*** NEXT ***\r\n/FUSES=N0000000000001100\r\n/FUSESSET\r\n/AddrLen=16384\r\n"
              "/AddrStart=0\r\n/ATMEL=7\r\n/PA=b.hex\r\n/Boot\r\n");
}

// Every example opened in the editor, each step looked at, and saved: the file is as it was.
TEST_F(DialogsFixture, StepEditorSavesEveryExampleUnchanged) {
    TPEditing& e = *editor_;
    int examples = 0;
    for (const auto& entry :
         std::filesystem::directory_iterator(std::string(PS_SOURCE_DIR) + "/examples")) {
        const std::string cfg = (entry.path() / "upgrade.cfg").string();
        if (!std::filesystem::exists(cfg)) continue;
        ++examples;
        SCOPED_TRACE(cfg);
        const std::string text = "; kept\r\n" + ps::test::ReadBytes(cfg);
        const std::string path = dir_.Write("copy.cfg", text);
        e.LoadFile(QString::fromStdString(path));
        e.show();
        for (int step = 1; step <= e.Editor().StepCount(); ++step) {
            e.SetCurrentStep(step);
            QApplication::processEvents();
        }
        Click(e.SaveBtn);
        EXPECT_EQ(e.result(), QDialog::Accepted);
        EXPECT_EQ(ps::test::ReadBytes(path), text);
    }
    EXPECT_GE(examples, 13);
}

TEST_F(DialogsFixture, StepEditorSaveFailureKeepsTheWork) {
    TPEditing& e = *editor_;
    const QString path = QString::fromStdString(dir_.File("missing/folder/x.cfg"));
    e.LoadFile(path);
    e.show();
    EXPECT_EQ(e.Editor().StepCount(), 0);
    EXPECT_FALSE(e.ClrStepBtn->isEnabled());
    EXPECT_FALSE(e.UpDown1->isEnabled());
    Click(e.AddStepBtn);
    Click(e.Boot);
    QString seen, details;
    AnswerMessageBox(seen, &details);
    Click(e.SaveBtn);
    EXPECT_EQ(seen, QString(ps::TextErrorCreatingFile) + "\n" + path);
    EXPECT_EQ(details, "hint: tried to write " + path + ": its folder " +
                           QString::fromStdString(dir_.File("missing/folder")) + " does not exist");
    EXPECT_TRUE(e.isVisible());
    EXPECT_EQ(e.Editor().Lines(), (Lines{"/Boot", ""}));
    // Browse puts the chosen image into the step.
    e.ChooseFile = [](QWidget*, const QString& title, const QString& filter) {
        EXPECT_EQ(title, QString("Open"));
        EXPECT_EQ(filter, QString("HEX files (*.HEX *.hex *.MHX *.mhx *.A90 *.a90 *.BIN *.bin)"));
        return QString("/images/fw.hex");
    };
    e.ModelCombo->setCurrentIndex(2);
    emit e.ModelCombo->activated(2);
    Click(e.BrowseBtn);
    EXPECT_EQ(e.Editor().Lines()[0], "/PB=/images/fw.hex");
    // An image at or below the step file's folder is named from there.
    e.ChooseFile = [this](QWidget*, const QString&, const QString&) {
        return QString::fromStdString(dir_.File("missing/folder/img/fw.hex"));
    };
    Click(e.BrowseBtn);
    EXPECT_EQ(e.Editor().Lines()[0], "/PB=img/fw.hex");
    EXPECT_EQ(e.FnameEdit->text(), QString("img/fw.hex"));
    Click(e.CancelBtn);
    EXPECT_FALSE(e.isVisible());
}

TEST_F(DialogsFixture, ProjectsButtonAndItsOption) {
    TForm1& f = *form_;
    ConnectProjectsButton(f, *projects_);
    QEvent activate(QEvent::WindowActivate);
    f.show();
    QApplication::sendEvent(&f, &activate);
    EXPECT_FALSE(f.ProjectBtn->isVisible());  // as shipped

    dir_.Write(ps::SettingsFileName, "[INIT]\r\nShowProjects=1\r\n");
    QApplication::sendEvent(&f, &activate);
    ASSERT_TRUE(f.ProjectBtn->isVisible());
    bool modalList = false;
    WhenModal([&] {
        modalList = projects_->isVisible() && projects_->isModal() &&
                    projects_->Panel1->isVisible() && !projects_->Panel2->isVisible();
        Click(projects_->CancelBtn);
        if (projects_->isVisible()) projects_->done(QDialog::Rejected);
    });
    Click(f.ProjectBtn);
    EXPECT_TRUE(modalList);
    EXPECT_FALSE(projects_->isVisible());
    // During a run the project stays as it is: the dialog does not open.
    f.St().Running = true;
    EXPECT_FALSE(projects_->OpenList());
    f.St().Running = false;
    QApplication::sendEvent(&f, &activate);
    EXPECT_TRUE(f.ProjectBtn->isVisible());  // every activation keeps it
}

// Not a test: the pictures of the documentation, written to $PS_SCREENSHOT_DIR when run
// with --gtest_also_run_disabled_tests.
TEST_F(DialogsFixture, DISABLED_Screenshots) {
    const char* out = std::getenv("PS_SCREENSHOT_DIR");
    ASSERT_NE(out, nullptr);
    const std::string folder = out;
    const std::string example = std::string(PS_SOURCE_DIR) + "/examples/atmel/upgrade.cfg";
    const std::string path = dir_.Write("upgrade.cfg", ps::test::ReadBytes(example));
    TPEditing& e = *editor_;
    e.LoadFile(QString::fromStdString(path));
    e.SetCurrentStep(1);
    e.show();
    QApplication::processEvents();
    QTest::keyClicks(e.LenBlock, "x");  // refused: the rule is shown
    QApplication::processEvents();
    e.grab().save(QString::fromStdString(folder + "/step-editor.png"));
    e.SetCurrentStep(2);
    QTest::keyClicks(e.LenBlock, "x");
    e.ModelCombo->setCurrentIndex(13);
    emit e.ModelCombo->activated(13);
    QApplication::processEvents();
    e.grab().save(QString::fromStdString(folder + "/step-editor-infineon.png"));
    e.hide();

    TForm1& f = *form_;
    f.show();
    QApplication::processEvents();
    f.ShowFileName("FILE: /home/operator/projects/production-line-3/fixture-b/2026-12/"
                   "release-candidate-7/images-for-the-second-board-revision/"
                   "firmware-with-a-long-name.hex");
    f.ShowWarning("WRONG RECORD CHECKSUM: FIRMWARE.HEX line 3: 4F, should be 4E");
    f.ShowStatus("Programed ok!", 0x000000);
    QApplication::processEvents();
    f.grab().save(QString::fromStdString(folder + "/window-warning.png"));
    const QRect screen = f.screen()->availableGeometry(), frame = f.frameGeometry();
    std::printf("screen %d,%d %dx%d window frame %d,%d %dx%d\n", screen.x(), screen.y(),
                screen.width(), screen.height(), frame.x(), frame.y(), frame.width(),
                frame.height());
}

TEST(DialogsOptions, ProjectsOption) {
    SetupOptions o;
    std::string error;
    ASSERT_TRUE(ParseArguments({"--projects", "/S"}, o, error));
    EXPECT_TRUE(o.OpenProjects);
    EXPECT_EQ(o.StepArgs, std::vector<std::string>{"/S"});
    SetupOptions automatic;
    EXPECT_FALSE(ParseArguments({"--projects", "auto=2"}, automatic, error));
    EXPECT_EQ(error, "--projects cannot be used with AUTO");
}

}  // namespace

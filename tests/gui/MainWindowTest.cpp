// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>

#include "MainWindow.h"
#include "run/ExitStatus.h"
#include "run/Texts.h"
#include "projects/TempDir.h"
#include "sim/AvrBoard.h"
#include "sim/Board.h"
#include "sim/SimPortDevice.h"
#include "sim/VirtualClock.h"
#include "sim/Wire.h"

using namespace ps::gui;

namespace {

// A board that keeps quiet: steps of model "None" send nothing after the port setup, so
// the run's course is decided by the operator's buttons alone.
class QuietBoard : public ps::sim::Board {
public:
    std::string Kind() const override { return "quiet"; }
    void OnByte(uint8_t) override {}
};

// Runs a test in a folder of its own that holds the project's step file, with the
// window's COM1 wired to an in-process simulated board under a virtual clock.
class WindowFixture : public ::testing::Test {
protected:
    void SetUp() override {
        char buf[4096];
        oldDir_ = getcwd(buf, sizeof buf) ? buf : ".";
        ASSERT_EQ(chdir(dir_.Path().c_str()), 0);
        form_ = std::make_unique<TForm1>(&clock_);
        form_->St().IniPath = dir_.File("PROGRAMMER.INI");
        wire_ =
            std::make_shared<ps::sim::Wire>(clock_, std::make_unique<QuietBoard>(), "sim:quiet");
        form_->St().Comm.SetResolver([this](int port) -> std::unique_ptr<ps::PortDevice> {
            if (port != 1 || !portExists_) return nullptr;
            return std::make_unique<ps::sim::SimPortDevice>(wire_);
        });
    }
    void TearDown() override {
        form_.reset();
        (void)chdir(oldDir_.c_str());
    }

    void WriteSteps(const std::string& text) { dir_.Write("upgrade.cfg", text); }

    void Activate() {
        QEvent activate(QEvent::WindowActivate);
        QApplication::sendEvent(form_.get(), &activate);
    }

    // Shows the window and lets the platform's own activation arrive before the test acts.
    void ShowWindow() {
        form_->show();
        form_->activateWindow();
        ProcessUntil([&] { return form_->isActiveWindow(); });
        QApplication::processEvents();
        Activate();
    }

    // Lets queued events run until `done` holds; a bounded number of passes, not a time.
    bool ProcessUntil(const std::function<bool()>& done) {
        for (int i = 0; i < 100000 && !done(); ++i) QApplication::processEvents();
        return done();
    }

    // An operator who watches the window and clicks what `act` chooses whenever the run
    // pauses for CONTINUE. Runs on a zero timer, so it acts from within the run's waits.
    void Operator(std::function<QAbstractButton*(int pause)> act) {
        auto* timer = new QTimer(form_.get());
        timer->setInterval(0);
        QObject::connect(timer, &QTimer::timeout, [this, act, timer] {
            if (!form_->PanCont->isVisible()) {
                seenPause_ = false;
                return;
            }
            if (seenPause_) return;
            seenPause_ = true;
            if (QAbstractButton* b = act(++pauses_)) {
                QTest::mouseClick(b, Qt::LeftButton, {}, b->rect().center());
            } else {
                timer->stop();
            }
        });
        timer->start();
    }

    ps::test::TempDir dir_;
    std::string oldDir_;
    ps::sim::VirtualClock clock_;
    std::shared_ptr<ps::sim::Wire> wire_;
    std::unique_ptr<TForm1> form_;
    bool portExists_ = true;
    bool seenPause_ = false;
    int pauses_ = 0;
};

}  // namespace

TEST_F(WindowFixture, LaysOutTheStationWindow) {
    TForm1& f = *form_;
    ShowWindow();
    QApplication::processEvents();
    EXPECT_EQ(f.width(), 752);
    EXPECT_EQ(f.ProjectPanel->height(), 22);
    EXPECT_EQ(f.ButtonPanel->height(), 37);
    EXPECT_EQ(f.ProjectPanel->Color(), 0xFF8000u);
    EXPECT_EQ(ToQColor(f.ProjectPanel->Color()), QColor(0, 0x80, 0xFF));
    EXPECT_EQ(f.LabProject->font().family(), QString("Arial"));
    EXPECT_EQ(f.Map1->ColorStatus(), 0x84FFFFu);
    EXPECT_EQ(f.Map1->ColorFileName(), 0x84FFFFu);
    EXPECT_EQ(f.Map1->ColorBytes(), 0x84FFFFu);
    EXPECT_EQ(f.Map1->StatusFont().pixelSize(), 19);
    EXPECT_EQ(f.Map1->FileNameFont().pixelSize(), 11);
    EXPECT_EQ(f.StartBtn->text(), QString("&START"));
    EXPECT_EQ(f.StopBtn->text(), QString("STO&P"));
    EXPECT_EQ(f.ContBtn->text(), QString("&CONTINUE"));
    EXPECT_EQ(f.ExitBtn->text(), QString("E&XIT"));
    EXPECT_EQ(f.StartBtn->ButtonColor(), 0x008000u);  // green
    EXPECT_EQ(f.StopBtn->ButtonColor(), 0x0000FFu);   // red
    EXPECT_EQ(f.ContBtn->ButtonColor(), 0x00FFFFu);   // yellow
    // Idle: START shown, STOP and CONTINUE hidden, EXIT always there.
    EXPECT_TRUE(f.PanStart->isVisible());
    EXPECT_FALSE(f.PanStop->isVisible());
    EXPECT_FALSE(f.PanCont->isVisible());
    EXPECT_TRUE(f.ExitBtn->isVisible());
    EXPECT_EQ(f.ComPortDg->title(), QString("Com Port"));
    const char* items[] = {"COM1", "COM2", "COM3", "COM4"};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(f.ComPortItem[i]->text(), QString(items[i]));
    // EXIT keeps to the right edge when the window is made wider.
    for (int width : {752, 1000}) {
        f.resize(width, f.height());
        QApplication::processEvents();
        EXPECT_EQ(f.ExitBtn->x() + f.ExitBtn->width(), width - 8) << width;
    }

    // Header: the gradient's ends, the logo centred, the title at the right edge.
    EXPECT_EQ(HeaderLineColour(0, 59), 0xFF1414u);
    EXPECT_EQ(HeaderLineColour(59, 59), 0xFFC8C8u);
    EXPECT_EQ(HeaderLineColour(1, 3), (0xFFu << 16) | ((20 * 2 + 200) / 3 * 0x101u));
    EXPECT_EQ(LogoLeft(752, 531), 110);  // 110.5 goes to the even neighbour
    EXPECT_EQ(LogoLeft(754, 531), 112);  // 111.5 likewise
    EXPECT_EQ(LogoLeft(400, 531), 0);
    EXPECT_EQ(f.Header->Logo()->x(), LogoLeft(f.Header->width(), f.Header->Logo()->width()));
    EXPECT_EQ(f.Header->LabTitle1()->x() + f.Header->LabTitle1()->width(), f.Header->width() - 2);
    EXPECT_EQ(f.Header->LabVer()->x(), f.Header->LabTitle1()->x());
    EXPECT_EQ(f.Header->LabVer()->y(),
              f.Header->LabTitle1()->y() + f.Header->LabTitle1()->height());
}

TEST_F(WindowFixture, EveryActivationResetsTheLayout) {
    TForm1& f = *form_;
    ShowWindow();
    f.SelectPort(3);
    f.resize(752, 400);
    f.ProjectBtn->show();
    f.Map1->SetMapVisible(true);
    f.Map1->SetBytesVisible(true);
    ASSERT_EQ(f.SelectedPort(), 3);

    Activate();  // as when a message box or dialog closes
    EXPECT_EQ(f.SelectedPort(), 1);
    EXPECT_EQ(f.height(), 270);
    EXPECT_FALSE(f.ProjectBtn->isVisible());
    EXPECT_FALSE(f.Map1->MapVisible());
    EXPECT_FALSE(f.Map1->BytesVisible());
    EXPECT_TRUE(f.ComPortDg->isVisible());
    EXPECT_EQ(f.LabProject->text(), QString("UPGRADE: upgrade.cfg"));
    EXPECT_FALSE(f.St().AutoMode);
    // The "Com Port" group tells which device each COM port leads to.
    EXPECT_TRUE(f.ComPortDg->toolTip().contains("COM2")) << f.ComPortDg->toolTip().toStdString();
}

TEST_F(WindowFixture, OperatorContinuesOneRunAndStopsTheNext) {
    // A step of model "None" without an image file: the port is set up, nothing is sent,
    // the step ends in success and waits for CONTINUE; the run ends after it.
    WriteSteps("/BOOT\r\n/RESET\r\n");
    TForm1& f = *form_;
    ShowWindow();
    bool pausedLook = false;
    QAbstractButton* answer = f.ContBtn;
    Operator([&](int) -> QAbstractButton* {
        // While paused: STOP and CONTINUE shown, START hidden.
        pausedLook = !f.PanStart->isVisible() && f.PanStop->isVisible() && f.PanCont->isVisible();
        EXPECT_EQ(f.Map1->StatusText(), QString(ps::TextProgramedOkLower));
        return answer;
    });
    QTest::mouseClick(f.StartBtn, Qt::LeftButton, {}, f.StartBtn->rect().center());
    EXPECT_TRUE(pausedLook);
    EXPECT_EQ(pauses_, 1);
    EXPECT_EQ(f.Map1->StatusText(), QString(ps::TextProgramedOkLower));
    EXPECT_EQ(f.Map1->StatusFontColor(), 0x000000u);
    EXPECT_EQ(ps::ExitStatusFor(f.St()), ps::ExitSuccess);
    EXPECT_TRUE(f.PanStart->isVisible());

    pausedLook = false;
    answer = f.StopBtn;
    QTest::mouseClick(f.StartBtn, Qt::LeftButton, {}, f.StartBtn->rect().center());
    EXPECT_TRUE(pausedLook);
    EXPECT_EQ(pauses_, 2);
    EXPECT_EQ(f.Map1->StatusText(), QString(ps::TextBreak));
    EXPECT_EQ(f.Map1->StatusFontColor(), 0x0000FFu);
    EXPECT_TRUE(f.PanStart->isVisible());
    EXPECT_FALSE(f.PanStop->isVisible());
    EXPECT_FALSE(f.PanCont->isVisible());
    EXPECT_FALSE(f.RunUnderWay());
    EXPECT_FALSE(f.St().Comm.Active());
    EXPECT_EQ(ps::ExitStatusFor(f.St()), ps::ExitBreak);
    EXPECT_EQ(wire_->transcript().Opens, 2);
    EXPECT_EQ(wire_->transcript().Opens, wire_->transcript().Closes);
}

TEST_F(WindowFixture, TheSelectedPortIsTheOneOpened) {
    WriteSteps("/AUTOCONTINUE\r\n");
    TForm1& f = *form_;
    ShowWindow();
    f.SelectPort(2);  // COM2 leads nowhere here
    f.StartBtnClick();
    EXPECT_EQ(f.Map1->StatusText(), QString(ps::TextErrorOpeningComPort));
    EXPECT_EQ(wire_->transcript().Opens, 0);
    f.SelectPort(1);
    f.StartBtnClick();
    EXPECT_EQ(f.Map1->StatusText(), QString(ps::TextProgramedOkLower));
    EXPECT_EQ(wire_->transcript().Opens, 1);
}

TEST_F(WindowFixture, ClosingDuringARunWaitsForTheRunToUnwind) {
    WriteSteps("/RESET\r\n");
    TForm1& f = *form_;
    ShowWindow();
    bool openWhilePaused = false;
    Operator([&](int) -> QAbstractButton* {
        f.close();
        // The run still holds the window's state: the window stays until it returns.
        openWhilePaused = f.isVisible() && f.RunUnderWay();
        return nullptr;
    });
    f.StartBtnClick();
    EXPECT_TRUE(openWhilePaused);
    EXPECT_EQ(f.Map1->StatusText(), QString(ps::TextBreak));
    EXPECT_TRUE(ProcessUntil([&] { return !f.isVisible(); }));
    // A closed window starts nothing more.
    f.StartBtnClick();
    EXPECT_EQ(wire_->transcript().Opens, 1);
}

TEST_F(WindowFixture, AutoRunsOnceAndEndsWithTheRunsStatus) {
    WriteSteps("/AUTOCONTINUE\r\n");
    TForm1& f = *form_;
    f.St().CommandLineArgs = {"aUtO"};
    int terminations = 0;
    int status = -1;
    QObject::connect(&f, &TForm1::Terminating, [&](int s) {
        ++terminations;
        status = s;
    });
    ShowWindow();
    EXPECT_FALSE(f.RunUnderWay());  // the run starts once activation has returned
    ASSERT_TRUE(ProcessUntil([&] { return f.TerminateRequested(); }));
    EXPECT_EQ(status, ps::ExitSuccess);
    EXPECT_EQ(f.ExitStatus(), ps::ExitSuccess);
    EXPECT_EQ(terminations, 1);
    EXPECT_EQ(wire_->transcript().Opens, 1);
    Activate();  // a late activation starts no second run
    QApplication::processEvents();
    EXPECT_EQ(wire_->transcript().Opens, 1);
}

TEST_F(WindowFixture, AutoStaysOpenWhenThePortCannotBeOpened) {
    WriteSteps("/AUTOCONTINUE\r\n");
    portExists_ = false;
    TForm1& f = *form_;
    f.St().CommandLineArgs = {"AUTO=1"};
    ShowWindow();
    ASSERT_TRUE(ProcessUntil([&] { return f.St().LastRunEnd != ps::Station::RunEnd::None; }));
    QApplication::processEvents();
    EXPECT_FALSE(f.TerminateRequested());
    EXPECT_EQ(f.Map1->StatusText(), QString(ps::TextErrorOpeningComPort));
    EXPECT_TRUE(f.PanStart->isVisible());
    // The operator ends it with EXIT; the script still learns why.
    QTest::mouseClick(f.ExitBtn, Qt::LeftButton, {}, f.ExitBtn->rect().center());
    EXPECT_TRUE(f.TerminateRequested());
    EXPECT_EQ(f.ExitStatus(), ps::ExitComPort);
}

TEST_F(WindowFixture, MessageBoxesAreModalAndClosedByTheOperator) {
    TForm1& f = *form_;
    ShowWindow();
    QString seen, details;
    QTimer reader;
    reader.setInterval(0);
    QObject::connect(&reader, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(w);
            if (box == nullptr || !box->isVisible()) continue;
            seen = box->text();
            details = box->detailedText();
            EXPECT_EQ(box->icon(), QMessageBox::Critical);
            EXPECT_TRUE(box->isModal());
            box->button(QMessageBox::Ok)->click();
        }
    });
    reader.start();
    f.ShowMessage(ps::MessageKind::Error, "NE MOREM ODPRETI DATOTEKE");
    EXPECT_EQ(seen, QString("NE MOREM ODPRETI DATOTEKE"));
    EXPECT_TRUE(details.isEmpty());  // no run: nothing was tried
    seen.clear();
    // A run whose image is missing: the text as it stands, what was tried in the details.
    WriteSteps("/PB=missing.hex\r\n/ADDRLEN=$2000\r\n/AUTOCONTINUE\r\n");
    QTest::mouseClick(f.StartBtn, Qt::LeftButton, {}, f.StartBtn->rect().center());
    EXPECT_TRUE(seen.startsWith("NE MOREM ODPRETI DATOTEKE")) << seen.toStdString();
    EXPECT_EQ(details, "hint: step 1 names the image MISSING.HEX; tried " +
                           QString::fromStdString(dir_.File("MISSING.HEX")) +
                           ": it does not exist (names are matched in any case)");
}

TEST_F(WindowFixture, StopEndsAWaitOnASilentBoardAndAutoReportsIt) {
    // "/BANKPORT=" asks the board for its bank port, and this board never answers: the
    // handshake goes on until the operator presses STOP.
    WriteSteps("/BANKPORT=1234\r\n/AUTOCONTINUE\r\n");
    TForm1& f = *form_;
    f.St().CommandLineArgs = {"AUTO"};
    QTimer operatorTimer;
    operatorTimer.setInterval(0);
    bool stopShownWhileWaiting = false;
    QObject::connect(&operatorTimer, &QTimer::timeout, [&] {
        if (!f.RunUnderWay() || wire_->transcript().Writes.size() < 3) return;
        stopShownWhileWaiting = f.PanStop->isVisible() && !f.PanStart->isVisible();
        operatorTimer.stop();
        QTest::mouseClick(f.StopBtn, Qt::LeftButton, {}, f.StopBtn->rect().center());
    });
    operatorTimer.start();
    ShowWindow();
    ASSERT_TRUE(ProcessUntil([&] { return f.TerminateRequested(); }));
    EXPECT_TRUE(stopShownWhileWaiting);
    EXPECT_EQ(f.Map1->StatusText(), QString(ps::TextBreak));
    EXPECT_EQ(f.Map1->StatusFontColor(), 0x0000FFu);
    EXPECT_EQ(f.ExitStatus(), ps::ExitBreak);
    EXPECT_FALSE(f.St().Comm.Active());
}

// Keys at the bench never change a run: no control takes the focus, so Space, Enter, Tab
// and the arrows reach nothing; each button's accelerator still clicks it.
TEST_F(WindowFixture, KeysDuringARunChangeNothingButAcceleratorsWork) {
    WriteSteps("/BOOT\r\n");
    TForm1& f = *form_;
    ShowWindow();
    QWindow* window = f.windowHandle();
    auto press = [&](Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        QTest::keyClick(window, key, mods);
        QApplication::processEvents();
    };
    bool unchanged = false;
    QTimer operatorTimer;
    operatorTimer.setInterval(0);
    QObject::connect(&operatorTimer, &QTimer::timeout, [&] {
        if (!f.PanCont->isVisible()) {
            seenPause_ = false;
            return;
        }
        if (seenPause_) return;
        seenPause_ = true;
        if (++pauses_ == 1) {
            for (Qt::Key key : {Qt::Key_Tab, Qt::Key_Space, Qt::Key_Return, Qt::Key_Enter,
                                Qt::Key_Up, Qt::Key_Down, Qt::Key_Left, Qt::Key_Right, Qt::Key_Tab,
                                Qt::Key_Space, Qt::Key_Backtab, Qt::Key_Space})
                press(key);
            unchanged = f.PanCont->isVisible() && f.RunUnderWay() && !f.TerminateRequested() &&
                        f.SelectedPort() == 1 && f.St().RunError == ps::RunOk &&
                        QApplication::focusWidget() == nullptr;
            press(Qt::Key_C, Qt::AltModifier);  // CONTINUE
        } else {
            press(Qt::Key_P, Qt::AltModifier);  // STOP
        }
    });
    operatorTimer.start();
    press(Qt::Key_S, Qt::AltModifier);  // START
    // The limits guard against a hang only.
    ASSERT_TRUE(QTest::qWaitFor([&] { return pauses_ == 1 && !f.RunUnderWay(); }, 10000));
    EXPECT_TRUE(unchanged);
    EXPECT_EQ(f.Map1->StatusText(), QString(ps::TextProgramedOkLower));
    press(Qt::Key_S, Qt::AltModifier);
    ASSERT_TRUE(QTest::qWaitFor([&] { return pauses_ == 2 && !f.RunUnderWay(); }, 10000));
    EXPECT_EQ(f.Map1->StatusText(), QString(ps::TextBreak));
    EXPECT_FALSE(f.TerminateRequested());
    press(Qt::Key_X, Qt::AltModifier);  // EXIT
    EXPECT_TRUE(QTest::qWaitFor([&] { return f.TerminateRequested(); }, 10000));
}

// The "Com Port" choice is read for every step: a change during a run applies from the next
// step on, and a message box closed during the run (an activation) leaves it alone.
TEST_F(WindowFixture, ThePortChosenDuringARunServesTheNextStep) {
    ps::sim::AvrBoard::Options options;
    options.Processor = 6;
    wire_ = std::make_shared<ps::sim::Wire>(clock_, std::make_unique<ps::sim::AvrBoard>(options),
                                            "sim:avr");
    std::vector<int> opened;
    form_->St().Comm.SetResolver([&](int port) -> std::unique_ptr<ps::PortDevice> {
        opened.push_back(port);
        return std::make_unique<ps::sim::SimPortDevice>(wire_);
    });
    dir_.Write("image.hex", ":0400000001020304F2\r\n:00000001FF\r\n");
    WriteSteps("/PA=image.hex\r\n/ATMEL=6\r\n/ADDRLEN=256\r\n*** NEXT ***\r\n/AUTOCONTINUE\r\n");
    TForm1& f = *form_;
    ShowWindow();
    int chosenAfterActivation = 0;
    Operator([&](int) -> QAbstractButton* {
        QTest::mouseClick(f.ComPortItem[1], Qt::LeftButton, {}, f.ComPortItem[1]->rect().center());
        Activate();  // as when a message box of the run closes
        chosenAfterActivation = f.SelectedPort();
        return f.ContBtn;
    });
    f.StartBtnClick();
    EXPECT_EQ(pauses_, 1);
    EXPECT_EQ(chosenAfterActivation, 2);
    EXPECT_EQ(opened, (std::vector<int>{1, 2}));
    EXPECT_EQ(ps::ExitStatusFor(f.St()), ps::ExitSuccess);
    Activate();  // outside a run, COM1 again
    EXPECT_EQ(f.SelectedPort(), 1);
}

TEST_F(WindowFixture, ClosingTheWindowEndsWithTheAutomaticRunsStatus) {
    WriteSteps("/AUTOCONTINUE\r\n");
    portExists_ = false;
    TForm1& f = *form_;
    f.St().CommandLineArgs = {"AUTO"};
    int status = -1;
    QObject::connect(&f, &TForm1::Terminating, [&](int s) { status = s; });
    ShowWindow();
    ASSERT_TRUE(ProcessUntil([&] { return f.St().LastRunEnd != ps::Station::RunEnd::None; }));
    EXPECT_FALSE(f.TerminateRequested());
    f.close();  // the title bar's close button, or the window manager
    EXPECT_EQ(status, ps::ExitComPort);
}

// A window manager that keeps new windows from taking the focus never activates ours.
TEST_F(WindowFixture, AutomaticModeStartsWithoutAnActivation) {
    struct NoActivation : QObject {
        bool eventFilter(QObject*, QEvent* e) override {
            return e->type() == QEvent::WindowActivate;
        }
    } noActivation;
    WriteSteps("/AUTOCONTINUE\r\n");
    TForm1& f = *form_;
    f.installEventFilter(&noActivation);
    f.St().CommandLineArgs = {"AUTO"};
    f.show();
    EXPECT_TRUE(QTest::qWaitFor([&] { return f.TerminateRequested(); }, 10000));
    EXPECT_EQ(f.ExitStatus(), ps::ExitSuccess);
    EXPECT_EQ(wire_->transcript().Opens, 1);
    f.removeEventFilter(&noActivation);
}

TEST_F(WindowFixture, AnImageWarningIsAMarkBesideTheFileNameAndChangesNoText) {
    TForm1& f = *form_;
    ShowWindow();
    f.ShowFileName("FILE: IMAGE.HEX");
    f.ShowWarning("WRONG RECORD CHECKSUM: IMAGE.HEX line 3: 4F, should be 4E");
    EXPECT_TRUE(f.WarningMark->isVisible());
    EXPECT_EQ(f.WarningMark->toolTip(),
              QString("WRONG RECORD CHECKSUM: IMAGE.HEX line 3: 4F, should be 4E"));
    EXPECT_EQ(f.Map1->FileNameText(), QString("FILE: IMAGE.HEX"));
    // The run's warnings stay until the next START, every one of them in the tooltip.
    f.ShowFileName("FILE: NEXT.HEX");  // the next step's image
    f.ShowWarning("TOO LONG");
    EXPECT_TRUE(f.WarningMark->isVisible());
    EXPECT_EQ(f.WarningMark->toolTip(),
              QString("WRONG RECORD CHECKSUM: IMAGE.HEX line 3: 4F, should be 4E\nTOO LONG"));
    // START clears them; a run whose port does not open gives the status line the hints
    // the terminal station prints.
    WriteSteps("/AUTOCONTINUE\r\n");
    portExists_ = false;
    QTest::mouseClick(f.StartBtn, Qt::LeftButton, {}, f.StartBtn->rect().center());
    EXPECT_FALSE(f.WarningMark->isVisible());
    EXPECT_EQ(f.Map1->StatusText(), QString(ps::TextErrorOpeningComPort));
    EXPECT_TRUE(f.Map1->StatusLab()->toolTip().contains("hint: COM1 is ")) <<
        f.Map1->StatusLab()->toolTip().toStdString();
}

// A long file name gives way in its middle: the image's own name stays on the window.
TEST_F(WindowFixture, LongFileNamesElideInTheMiddle) {
    TForm1& f = *form_;
    ShowWindow();
    const QString full = "FILE: /" + QString("very-long-folder-name/").repeated(12) + "IMAGE.HEX";
    f.ShowFileName(full.toStdString());
    QApplication::processEvents();
    QLabel* lab = f.Map1->FileNameLab();
    EXPECT_EQ(f.Map1->FileNameText(), full);
    EXPECT_TRUE(lab->text().startsWith("FILE: /very"));
    EXPECT_TRUE(lab->text().endsWith("IMAGE.HEX"));
    EXPECT_LE(lab->x() + lab->width(), f.Map1->width());
    EXPECT_EQ(lab->toolTip(), full);
    f.ShowFileName("FILE: IMAGE.HEX");
    EXPECT_EQ(lab->text(), QString("FILE: IMAGE.HEX"));
    EXPECT_TRUE(lab->toolTip().isEmpty());
}

// The window's place on the screen it opens on, also with a large scale factor.
TEST(WindowPlace, StaysOnTheScreen) {
    const QSize frame(8, 36);
    const struct {
        QRect Screen;
        QRect Expected;
    } rows[] = {
        {{0, 0, 1920, 1080}, {584, 419, 752, 270}},
        {{1920, 0, 1920, 1080}, {2504, 419, 752, 270}},  // a second screen
        {{0, 0, 640, 376}, {4, 67, 632, 270}},           // 1280 x 752 at scale 2
        {{0, 0, 760, 290}, {4, 32, 752, 254}},           // low: the title bar stays on screen
    };
    for (const auto& row : rows) {
        EXPECT_EQ(PlaceOnScreen(row.Screen, frame, QSize(752, 270)), row.Expected)
            << row.Screen.width() << "x" << row.Screen.height();
    }
}

TEST(StationText, ShowsUtf8AndFallsBackToLatin1) {
    EXPECT_EQ(FromStationText("FILE: \xc4\x8d.hex"), QString::fromUtf8("FILE: \xc4\x8d.hex"));
    // A name written by an older editor in Latin-1: shown as written, nothing lost.
    EXPECT_EQ(FromStationText("FILE: \xe8.hex"), QString::fromLatin1("FILE: \xe8.hex"));
}

// SPDX-License-Identifier: MIT
#include "GangWindow.h"

#include <unistd.h>

#include <QCloseEvent>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QSocketNotifier>
#include <QTimer>
#include <QVBoxLayout>

#include "Colours.h"
#include "FancyButton.h"
#include "MainWindow.h"
#include "StationSetup.h"
#include "app/StartUp.h"
#include "display/StationView.h"
#include "projects/Settings.h"

namespace ps::gui {

namespace {

constexpr int TickMs = 100;  // elapsed times are redrawn ten times a second
constexpr int PanelColumns = 2;
constexpr int PanelWidth = 360;
constexpr TColor PassedColour = 0x008000;  // green
constexpr TColor PanelColour = 0xFFFFFF;
constexpr const char* GangSettingKey = "Gang";
constexpr const char* RunProgram = "progstation-cli";
constexpr const char* GangListRule = "takes a list of COM numbers 1 to 10, such as 1,2,3,4";

QString Seconds(int64_t ms) {
    return QString::number(static_cast<double>(ms) / 1000.0, 'f', 1) + " s";
}

QLabel* AddLabel(QVBoxLayout* layout, QWidget* parent, int pixels, bool bold) {
    auto* label = new QLabel(parent);
    QFont font = label->font();
    font.setPixelSize(pixels);
    font.setBold(bold);
    label->setFont(font);
    label->setTextFormat(Qt::PlainText);
    layout->addWidget(label);
    return label;
}

void SetTextColour(QLabel* label, TColor colour) {
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, ToQColor(colour));
    label->setPalette(p);
}

}  // namespace

bool GangFromOptions(const SetupOptions& options, const std::string& iniPath,
                     const std::string& programFolder, GangSetup& setup, std::string& error) {
    setup = GangSetup{};
    const std::string fromIni = ReadSetting(iniPath, SettingsSectionInit, GangSettingKey, "");
    const bool fromOption = !options.Gang.empty();
    const std::string list = fromOption ? options.Gang : fromIni;
    if (list.empty()) return true;
    if (options.OpenProjects) {
        error = "--projects cannot be used with a gang";
        return false;
    }
    if (!ParseGangList(list, setup.Ports)) {
        error = (fromOption ? std::string("--gang ")
                            : iniPath + ": [" + SettingsSectionInit + "] " + GangSettingKey + "=") +
                GangListRule;
        return false;
    }
    const auto targets = GangPortTargets(iniPath, MaxGangPort);
    for (int port : setup.Ports) setup.Devices.push_back(targets[port - 1]);
    // The runs read the settings file the window reads, wherever they are installed.
    if (!options.IniOverride.empty() || access(iniPath.c_str(), F_OK) == 0)
        setup.RunArgs.insert(setup.RunArgs.end(), {"--ini", iniPath});
    if (!options.TraceFile.empty())
        setup.RunArgs.insert(setup.RunArgs.end(), {"--trace", options.TraceFile});
    if (!options.RecordFile.empty())
        setup.RunArgs.insert(setup.RunArgs.end(), {"--record", options.RecordFile});
    setup.RunArgs.insert(setup.RunArgs.end(), options.StepArgs.begin(), options.StepArgs.end());
    setup.Automatic =
        !options.StepArgs.empty() && ParseAutoArgument(options.StepArgs.front()).AutoMode;
    // The terminal station beside this program, else the one on the PATH.
    const std::string beside = programFolder + RunProgram;
    setup.Program = access(beside.c_str(), X_OK) == 0 ? beside : RunProgram;
    return true;
}

TGangWindow::TGangWindow(GangSetup setup, QWidget* parent)
    : QWidget(parent), setup_(std::move(setup)) {
    setWindowTitle(QString::fromLatin1(GangTitle));
    PrepareGangProcess();
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(6, 6, 6, 6);
    auto* grid = new QGridLayout;
    outer->addLayout(grid);
    panels_.resize(setup_.Ports.size());
    for (size_t i = 0; i < panels_.size(); ++i) {
        GangPanel& p = panels_[i];
        auto* frame = new QFrame(this);
        frame->setFrameShape(QFrame::Box);
        frame->setAutoFillBackground(true);
        QPalette pal = frame->palette();
        pal.setColor(QPalette::Window, ToQColor(PanelColour));
        frame->setPalette(pal);
        frame->setFixedWidth(PanelWidth);
        frame->setObjectName(QString("GangPanelCOM%1").arg(setup_.Ports[i]));
        auto* column = new QVBoxLayout(frame);
        column->setSpacing(2);
        p.Frame = frame;
        p.Port = AddLabel(column, frame, 13, true);
        const std::string device = i < setup_.Devices.size() ? setup_.Devices[i] : "";
        p.Port->setText(
            QString("COM%1  %2").arg(setup_.Ports[i]).arg(QString::fromStdString(device)));
        p.File = AddLabel(column, frame, FileNameFontPixels, false);
        p.File->setText(QString::fromLatin1(GangNoFileText));
        p.Status = AddLabel(column, frame, 15, true);
        p.Status->setText(QString::fromLatin1(GangIdleText));
        p.Gauge = new QProgressBar(frame);
        p.Gauge->setRange(0, 100);
        p.Gauge->setValue(0);
        column->addWidget(p.Gauge);
        auto* row = new QHBoxLayout;
        row->setSpacing(12);
        column->addLayout(row);
        p.Elapsed = new QLabel(frame);
        p.Result = new QLabel(frame);
        p.Counts = new QLabel(frame);
        for (QLabel* l : {p.Elapsed, p.Result, p.Counts}) {
            l->setTextFormat(Qt::PlainText);
            row->addWidget(l);
        }
        p.Counts->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        p.Counts->setText(QString::fromLatin1(GangCountsText).arg(0).arg(0));
        grid->addWidget(frame, static_cast<int>(i) / PanelColumns,
                        static_cast<int>(i) % PanelColumns);
    }

    auto* buttons = new QHBoxLayout;
    outer->addLayout(buttons);
    auto makeButton = [this, buttons](const char* caption, TColor colour, const char* name) {
        auto* b = new TFancyButton(this);
        b->setObjectName(name);
        b->setText(QString::fromLatin1(caption));
        b->SetButtonColor(colour);
        b->setFixedSize(TFancyButton::DefaultWidth, TFancyButton::DefaultHeight);
        buttons->addWidget(b);
        return b;
    };
    StartBtn = makeButton(StartCaption, StartColour, "StartBtn");
    StopBtn = makeButton(StopCaption, StopColour, "StopBtn");
    ContBtn = makeButton(ContinueCaption, ContinueColour, "ContBtn");
    buttons->addStretch();
    ExitBtn = makeButton(ExitCaption, ClSilver, "ExitBtn");
    connect(StartBtn, &QAbstractButton::clicked, this, &TGangWindow::StartGang);
    connect(StopBtn, &QAbstractButton::clicked, this, &TGangWindow::StopGang);
    connect(ContBtn, &QAbstractButton::clicked, this, &TGangWindow::ContinueGang);
    connect(ExitBtn, &QAbstractButton::clicked, this, &TGangWindow::ExitGang);

    ticker_ = new QTimer(this);
    connect(ticker_, &QTimer::timeout, this, &TGangWindow::Tick);
    RefreshButtons();
    if (setup_.Automatic) QTimer::singleShot(0, this, &TGangWindow::StartGang);
}

TGangWindow::~TGangWindow() {
    for (QSocketNotifier* n : notifiers_) delete n;
    notifiers_.clear();
    runs_.reset();  // ends any run still going
}

bool TGangWindow::Running() const {
    if (!runs_) return false;
    for (const PortRun& r : *runs_)
        if (!r.Over()) return true;
    return false;
}

void TGangWindow::StartGang() {
    if (Running() || terminated_) return;
    for (QSocketNotifier* n : notifiers_) delete n;
    notifiers_.assign(panels_.size(), nullptr);
    runs_ = std::make_unique<std::vector<PortRun>>(panels_.size());
    lifeline_ = std::make_unique<GangLifeline>();
    for (size_t i = 0; i < panels_.size(); ++i) {
        PortRun& r = (*runs_)[i];
        r.Port = setup_.Ports[i];
        r.Device = i < setup_.Devices.size() ? setup_.Devices[i] : "";
        r.Start(setup_.Program, setup_.RunArgs, *lifeline_, setup_.WorkDir);
        panels_[i].Gauge->setValue(0);
        Refresh(i);
        if (r.OutputFd() >= 0) {
            auto* n = new QSocketNotifier(r.OutputFd(), QSocketNotifier::Read, this);
            connect(n, &QSocketNotifier::activated, this, [this, i] { ReadRun(i); });
            notifiers_[i] = n;
        }
    }
    ticker_->start(TickMs);
    RefreshButtons();
    // Runs that could not start are over already.
    for (size_t i = 0; i < panels_.size(); ++i)
        if ((*runs_)[i].Over()) RunEnded(i);
}

void TGangWindow::StopGang() {
    if (!runs_) return;
    for (PortRun& r : *runs_) r.Stop();
}

void TGangWindow::ContinueGang() {
    if (!runs_) return;
    for (PortRun& r : *runs_) r.Continue();
    RefreshButtons();
}

void TGangWindow::ExitGang() {
    if (terminated_) return;
    if (Running()) {
        // Every run ends first, as STOP ends it; the window goes when the last has.
        exitWhenOver_ = true;
        StopGang();
        return;
    }
    terminated_ = true;
    hide();
    emit Terminating(setup_.Automatic ? lastStatus_ : 0);
}

void TGangWindow::closeEvent(QCloseEvent* event) {
    if (terminated_) {
        event->accept();
        return;
    }
    event->ignore();
    ExitGang();
}

void TGangWindow::ReadRun(size_t i) {
    PortRun& r = (*runs_)[i];
    const bool more = r.ReadOutput(nullptr);
    Refresh(i);
    if (!more) {
        notifiers_[i]->setEnabled(false);
        notifiers_[i]->deleteLater();
        notifiers_[i] = nullptr;
        RunEnded(i);
    }
    RefreshButtons();
}

void TGangWindow::RunEnded(size_t i) {
    const PortRun& r = (*runs_)[i];
    GangPanel& p = panels_[i];
    if (r.ExitStatus == 0) {
        ++p.Passed;
        p.Result->setText(QString::fromLatin1(GangPassedText));
        SetTextColour(p.Result, PassedColour);
    } else {
        ++p.Failed;
        p.Result->setText(QString::fromLatin1(GangFailedText).arg(r.ExitStatus));
        SetTextColour(p.Result, StatusColorError);
    }
    p.Counts->setText(QString::fromLatin1(GangCountsText).arg(p.Passed).arg(p.Failed));
    Refresh(i);
    if (Running()) return;
    ticker_->stop();
    lastStatus_ = GangStatus(*runs_);
    RefreshButtons();
    if (setup_.Automatic || exitWhenOver_) ExitGang();
}

void TGangWindow::Refresh(size_t i) {
    const PortRun& r = (*runs_)[i];
    GangPanel& p = panels_[i];
    if (!r.View.File.empty()) p.File->setText(QString::fromStdString(RunFilePrefix + r.View.File));
    const std::string status = r.View.Waiting ? RunWaitingText : r.View.Status;
    p.Status->setText(QString::fromStdString(status));
    p.Status->setToolTip(p.Status->text());  // a long line is cut at the panel's edge
    SetTextColour(p.Status, r.View.Error ? StatusColorError : StatusColorNormal);
    if (r.View.Percent >= 0) p.Gauge->setValue(r.View.Percent);
    const int64_t end = r.Over() ? r.EndMs : GangClockMs();
    p.Elapsed->setText(Seconds(end - r.StartMs));
}

void TGangWindow::RefreshButtons() {
    const bool running = Running();
    bool waiting = false;
    if (runs_)
        for (const PortRun& r : *runs_) waiting = waiting || (!r.Over() && r.View.Waiting);
    StartBtn->setEnabled(!running);
    StopBtn->setEnabled(running);
    ContBtn->setEnabled(waiting);
}

void TGangWindow::Tick() {
    if (!runs_) return;
    for (size_t i = 0; i < panels_.size(); ++i)
        if (!(*runs_)[i].Over()) Refresh(i);
}

}  // namespace ps::gui

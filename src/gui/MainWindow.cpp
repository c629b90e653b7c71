// SPDX-License-Identifier: MIT
#include "MainWindow.h"

#include <algorithm>

#include <QApplication>
#include <QStringList>
#include <QCloseEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QRadioButton>
#include <QScreen>
#include <QStringDecoder>
#include <QTimer>
#include <QVBoxLayout>

#include "Logo.h"
#include "run/ExitStatus.h"
#include "app/Hints.h"
#include "app/RunController.h"
#include "app/StartUp.h"
#include "link/PortList.h"
#include "link/PortMap.h"
#include "projects/Settings.h"
#include "projects/ProjectList.h"

namespace ps::gui {

namespace {
constexpr const char* VersionText = "v" PS_VERSION_TEXT;
constexpr int PanelWidth = 105;
constexpr int PanelHeight = 31;
constexpr int ComPortWidth = 270;
constexpr int ExitRightMargin = 8;
constexpr int ActivationFallbackMs = 500;
}  // namespace

QString FromStationText(const std::string& text) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString s = utf8(QByteArrayView(text.data(), static_cast<qsizetype>(text.size())));
    if (utf8.hasError())
        return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
    return s;
}

QString JoinLines(const std::vector<std::string>& lines) {
    QStringList out;
    for (const std::string& line : lines) out << FromStationText(line);
    return out.join('\n');
}

// ---------------------------------------------------------------------------------------------
// Header

TColor HeaderLineColour(int i, int d) {
    auto part = [&](int shift) {
        int top = static_cast<int>((HeaderTop >> shift) & 0xFF);
        int bottom = static_cast<int>((HeaderBottom >> shift) & 0xFF);
        return static_cast<TColor>((top * (d - i) + bottom * i) / d);
    };
    return part(0) | (part(8) << 8) | (part(16) << 16);
}

int LogoLeft(int stripWidth, int logoWidth) {
    int left = RoundHalfEven((stripWidth - logoWidth) / 2.0);
    return left < 0 ? 0 : left;
}

THeader::THeader(QWidget* parent) : QWidget(parent) {
    setObjectName("Header");
    logo_ = new QLabel(this);
    logo_->setObjectName("Logo");
    logo_->setPixmap(MakeLogo());
    logo_->resize(LogoWidth, LogoHeight);
    logo_->move(0, (HeaderHeight - LogoHeight) / 2);

    QFont titleFont = font();
    titleFont.setBold(true);
    titleFont.setPixelSize(13);
    labTitle1_ = new QLabel(QString::fromLatin1(ProductTitle), this);
    labTitle1_->setObjectName("LabTitle1");
    labTitle1_->setFont(titleFont);
    labTitle1_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    labTitle1_->adjustSize();
    labTitle1_->move(0, 6);
    QFont verFont = font();
    verFont.setPixelSize(11);
    labVer_ = new QLabel(QString::fromLatin1(VersionText), this);
    labVer_->setObjectName("LabVer");
    labVer_->setFont(verFont);
    labVer_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    for (QLabel* lab : {labTitle1_, labVer_}) {
        QPalette pal = lab->palette();
        pal.setColor(QPalette::WindowText, QColor(10, 10, 80));
        lab->setPalette(pal);
    }
}

void THeader::paintEvent(QPaintEvent*) {
    int d = height() - 1;
    if (d <= 0) return;
    QPainter p(this);
    for (int i = 0; i <= d; ++i) {
        p.setPen(ToQColor(HeaderLineColour(i, d)));
        p.drawLine(0, i, width() - 1, i);
    }
}

void THeader::resizeEvent(QResizeEvent*) {
    logo_->move(LogoLeft(width(), logo_->width()), logo_->y());
    labTitle1_->move(width() - labTitle1_->width() - 2, labTitle1_->y());
    labVer_->setGeometry(labTitle1_->x(), labTitle1_->y() + labTitle1_->height(),
                         labTitle1_->width(), labVer_->sizeHint().height());
}

// ---------------------------------------------------------------------------------------------
// Window

TForm1::TForm1(ps::Clock* clock, QWidget* parent) : QWidget(parent) {
    if (clock == nullptr) {
        ownClock_ = std::make_unique<ps::RealClock>();
        clock = ownClock_.get();
    }
    station_ = std::make_unique<ps::Station>(*clock, *this);

    setObjectName("Form1");
    setWindowTitle(QString::fromLatin1(ProductTitle) + " - " + ProductSubtitle);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    Header = new THeader(this);
    Header->setFixedHeight(HeaderHeight);
    column->addWidget(Header);

    BuildProjectStrip();
    column->addWidget(ProjectPanel);

    Map1 = new TMap1(this);
    Map1->setObjectName("Map1");
    Map1->SetColorStatus(MapStripColour);
    Map1->SetColorFileName(MapStripColour);
    Map1->SetColorBytes(MapStripColour);
    QFont statusFont = Map1->StatusFont();
    statusFont.setPixelSize(StatusFontPixels);
    Map1->SetStatusFont(statusFont);
    QFont fileNameFont = Map1->FileNameFont();
    fileNameFont.setPixelSize(FileNameFontPixels);
    Map1->SetFileNameFont(fileNameFont);
    column->addWidget(Map1, 1);
    // A warning about the step's image is a mark beside the file-name line, the text in its
    // tooltip: no text of the panel changes for it.
    QWidget* fileStrip = Map1->FileNameLab()->parentWidget();
    WarningMark = new QLabel(QString::fromUtf8("\u26A0"), fileStrip);
    WarningMark->setObjectName("WarningMark");
    WarningMark->setStyleSheet("color: #C00000; font-weight: bold;");
    WarningMark->hide();
    fileStrip->installEventFilter(this);

    BuildButtonStrip();
    column->addWidget(ButtonPanel);

    ShowPanels(true, false, false);
    resize(FormWidth, FormHeight);
    setMinimumWidth(FormWidth);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        // The frame is not known before the window manager has it; allow for a usual one.
        const QRect placed = PlaceOnScreen(screen->availableGeometry(), FrameAllowance,
                                           QSize(FormWidth, FormHeight));
        setMinimumWidth(placed.width());
        setGeometry(placed);
    }
}

QRect PlaceOnScreen(const QRect& available, const QSize& frame, const QSize& wanted) {
    const int width = std::max(1, std::min(wanted.width(), available.width() - frame.width()));
    const int height = std::max(1, std::min(wanted.height(), available.height() - frame.height()));
    // Centred; a window that does not fit keeps its title bar and its left edge on screen.
    const int outerW = width + frame.width(), outerH = height + frame.height();
    const int left = std::max(available.left(), available.left() + (available.width() - outerW) / 2);
    const int top = std::max(available.top(), available.top() + (available.height() - outerH) / 2);
    // The client area starts inside the frame: half its width at the side, the rest above.
    return QRect(left + frame.width() / 2, top + frame.height() - frame.width() / 2, width,
                 height);
}

TForm1::~TForm1() {
    // A window destroyed while a run is on its stack would leave the run using freed state;
    // the close handling keeps that from happening, this only tidies the port.
    try {
        if (station_->Comm.Active()) station_->Comm.Close();
    } catch (const ps::ESerialPortError&) {
        // Nothing to report to: the window is going away.
    }
}

void TForm1::BuildProjectStrip() {
    ProjectPanel = new TBevelPanel(this);
    ProjectPanel->setObjectName("ProjectPanel");
    ProjectPanel->SetBevels(TBevelPanel::bvNone, TBevelPanel::bvNone);
    ProjectPanel->SetColor(ProjectStripColour);
    ProjectPanel->setFixedHeight(ProjectStripHeight);
    auto* row = new QHBoxLayout(ProjectPanel);
    row->setContentsMargins(6, 0, 4, 0);
    LabProject = new QLabel(ProjectPanel);
    LabProject->setObjectName("LabProject");
    QFont arial("Arial");
    arial.setPixelSize(13);
    arial.setBold(true);
    LabProject->setFont(arial);
    QPalette pal = LabProject->palette();
    pal.setColor(QPalette::WindowText, Qt::white);
    LabProject->setPalette(pal);
    row->addWidget(LabProject, 1);
    ProjectBtn = new TFancyButton(ProjectPanel);
    ProjectBtn->setObjectName("ProjectBtn");
    ProjectBtn->setText(QString::fromLatin1(ProjectsCaption));
    ProjectBtn->setFixedSize(TFancyButton::DefaultWidth, 20);
    // The projects dialog is not offered from this window: the station works on its fixed
    // project. The button stays hidden (every activation hides it again).
    ProjectBtn->hide();
    row->addWidget(ProjectBtn);
}

void TForm1::BuildButtonStrip() {
    ButtonPanel = new TBevelPanel(this);
    ButtonPanel->setObjectName("ButtonPanel");
    ButtonPanel->setFixedHeight(ButtonStripHeight);

    ComPortDg = new QGroupBox(QString::fromLatin1(ComPortTitle), ButtonPanel);
    ComPortDg->setObjectName("ComPortDg");
    ComPortDg->setGeometry(2, 0, ComPortWidth, ButtonStripHeight);
    ComPortDg->setAutoFillBackground(true);
    QPalette silver = ComPortDg->palette();
    silver.setColor(QPalette::Window, ToQColor(ClSilver));
    ComPortDg->setPalette(silver);
    QFont small = ComPortDg->font();
    small.setPixelSize(11);
    ComPortDg->setFont(small);
    ComPortDg->setStyleSheet(
        "QGroupBox { background: #C0C0C0; border: 1px solid #808080; margin-top: 6px; }"
        "QGroupBox::title { subcontrol-origin: margin; left: 8px; padding: 0 2px; }");
    auto* items = new QHBoxLayout(ComPortDg);
    items->setContentsMargins(6, 6, 6, 0);
    items->setSpacing(0);
    for (size_t i = 0; i < ComPortItem.size(); ++i) {
        ComPortItem[i] = new QRadioButton(QString::fromLatin1(ComPortItems[i]), ComPortDg);
        ComPortItem[i]->setObjectName(QString("ComPortItem%1").arg(i + 1));
        // No control of the window takes the keyboard focus: a key pressed at the bench
        // (an arrow here) must never change a run. The choice is made with the mouse.
        ComPortItem[i]->setFocusPolicy(Qt::NoFocus);
        // Every step reads the choice when it opens its port, so a change during a run
        // applies from the next step on.
        connect(ComPortItem[i], &QRadioButton::toggled, this, [this](bool on) {
            if (on) station_->SelectedPort = SelectedPort();
        });
        items->addWidget(ComPortItem[i], 1);
    }
    ComPortItem[0]->setChecked(true);

    auto makeButton = [&](TBevelPanel* panel, const char* caption, TColor colour,
                          const char* name) {
        auto* b = new TFancyButton(panel);
        b->setObjectName(name);
        b->setText(QString::fromLatin1(caption));
        b->SetButtonColor(colour);
        QFont f = b->font();
        f.setBold(true);
        b->setFont(f);
        b->move((PanelWidth - TFancyButton::DefaultWidth) / 2,
                (PanelHeight - TFancyButton::DefaultHeight) / 2);
        return b;
    };
    auto makePanel = [&](const char* name, int left) {
        auto* panel = new TBevelPanel(ButtonPanel);
        panel->setObjectName(name);
        panel->SetBevels(TBevelPanel::bvNone, TBevelPanel::bvNone);
        panel->setGeometry(left, (ButtonStripHeight - PanelHeight) / 2, PanelWidth, PanelHeight);
        return panel;
    };
    int left = ComPortWidth + 16;
    PanStart = makePanel("PanStart", left);
    StartBtn = makeButton(PanStart, StartCaption, StartColour, "StartBtn");
    PanStop = makePanel("PanStop", left + PanelWidth + 6);
    StopBtn = makeButton(PanStop, StopCaption, StopColour, "StopBtn");
    PanCont = makePanel("PanCont", left + 2 * (PanelWidth + 6));
    ContBtn = makeButton(PanCont, ContinueCaption, ContinueColour, "ContBtn");
    ExitBtn = new TFancyButton(ButtonPanel);
    ExitBtn->setObjectName("ExitBtn");
    ExitBtn->setText(QString::fromLatin1(ExitCaption));
    QFont f = ExitBtn->font();
    f.setBold(true);
    ExitBtn->setFont(f);
    PlaceExitButton();
    ButtonPanel->installEventFilter(this);

    connect(StartBtn, &QAbstractButton::clicked, this, &TForm1::StartBtnClick);
    connect(StopBtn, &QAbstractButton::clicked, this, &TForm1::StopBtnClick);
    connect(ContBtn, &QAbstractButton::clicked, this, &TForm1::ContinueBtnClick);
    connect(ExitBtn, &QAbstractButton::clicked, this, &TForm1::ExitBtnClick);
}

// EXIT keeps to the right edge of the button strip, however wide the window is made.
void TForm1::PlaceExitButton() {
    const int width = ButtonPanel->width() > 0 ? ButtonPanel->width() : FormWidth;
    ExitBtn->move(width - TFancyButton::DefaultWidth - ExitRightMargin,
                  (ButtonStripHeight - TFancyButton::DefaultHeight) / 2);
}

// Keeps EXIT at the right edge of the button strip and the warning mark at the end of the
// file-name line when either is resized.
bool TForm1::eventFilter(QObject* watched, QEvent* e) {
    if (e->type() == QEvent::Resize) {
        if (watched == ButtonPanel) PlaceExitButton();
        if (watched == WarningMark->parentWidget()) PlaceWarningMark();
    }
    return QWidget::eventFilter(watched, e);
}

int TForm1::SelectedPort() const {
    for (size_t i = 0; i < ComPortItem.size(); ++i) {
        if (ComPortItem[i]->isChecked()) return static_cast<int>(i) + 1;
    }
    return 1;
}

void TForm1::SelectPort(int port) {
    if (port >= 1 && port <= static_cast<int>(ComPortItem.size()))
        ComPortItem[port - 1]->setChecked(true);
}

// ---------------------------------------------------------------------------------------------
// Activation, closing

bool TForm1::event(QEvent* e) {
    if (e->type() == QEvent::WindowActivate) FormActivate();
    return QWidget::event(e);
}

void TForm1::showEvent(QShowEvent* e) {
    QWidget::showEvent(e);
    // Once the frame is known: a window the screen cuts (a large scale factor on a small
    // screen) is placed again within the screen it opened on.
    if (QScreen* screen = this->screen(); screen && !screen->availableGeometry().contains(frameGeometry())) {
        const QSize frame = frameGeometry().size() - size();
        const QRect placed = PlaceOnScreen(screen->availableGeometry(),
                                           frame.isEmpty() ? FrameAllowance : frame, size());
        setMinimumWidth(std::min(minimumWidth(), placed.width()));
        setGeometry(placed);
    }
    // A window manager that keeps new windows from taking the focus never activates the
    // window: without an activation of its own it is handled as activated shortly after it
    // is shown, so an automatic run still starts.
    if (firstActivation_ && !activationFallbackArmed_) {
        activationFallbackArmed_ = true;
        QTimer::singleShot(ActivationFallbackMs, this, [this] {
            if (firstActivation_ && !closed_) FormActivate();
        });
    }
}

void TForm1::FormActivate() {
    bool startRun = ps::ActivateStation(*station_, firstActivation_);
    ComPortDg->show();
    SelectPort(station_->SelectedPort);  // COM1, unless a run is under way
    ProjectBtn->hide();
    Map1->SetMapVisible(false);
    Map1->SetBytesVisible(false);
    LabProject->setText(FromStationText(station_->Project.Label()));
    if (ps::ProjectsButtonWanted(station_->IniPath)) ProjectBtn->show();  // [INIT] ShowProjects=1
    ComPortDg->setToolTip(PortListTip());
    resize(width(), FormHeight);
    // The run starts once this handler has returned, so the activation is complete and the
    // window is responsive before the first wait; never while one is under way.
    if (startRun && !inRun_) {
        QTimer::singleShot(0, this, [this] {
            if (!inRun_ && !closed_) StartBtnClick();
        });
    }
}

// Which fixture is which: the serial devices of the machine and the COM ports of the
// current settings that lead to them, as `progstation-cli --list-ports` prints them.
QString TForm1::PortListTip() const {
    ps::PortMapConfig config;
    const std::string ini = station_->IniPath;
    config.IniLookup = [ini](const std::string& key) {
        return ps::ReadSetting(ini, ps::PortIniSection, key, "");
    };
    std::vector<std::string> targets;
    for (int n = 1; n <= static_cast<int>(ComPortItem.size()); ++n)
        targets.push_back(ps::ResolvePortTarget(n, config).Value);
    return FromStationText(ps::FormatPortList(ps::ListSerialPorts(), targets)).trimmed();
}

void TForm1::closeEvent(QCloseEvent* e) {
    ps::CloseStation(*station_);
    if (inRun_) {
        // The run is on the stack below us and still uses the window's state: stop it at
        // its next wait and close once it has unwound.
        closePending_ = true;
        e->ignore();
        return;
    }
    closed_ = true;
    e->accept();
    // Closed from the title bar or by the window manager: the program ends as EXIT ends
    // it, so a script reads the run's status and never a success after a failure.
    if (!terminateRequested_) Terminate();
}

// ---------------------------------------------------------------------------------------------
// Buttons

void TForm1::StartBtnClick() {
    if (inRun_ || closed_) return;
    inRun_ = true;
    station_->SelectedPort = SelectedPort();
    // The warnings and details of the last run stay until the next one starts.
    WarningMark->hide();
    WarningMark->setToolTip(QString());
    Map1->StatusLab()->setToolTip(QString());
    ps::StartBtnClick(*station_);
    inRun_ = false;
    AfterRun();
}

QString TForm1::RunDetails() const {
    std::vector<std::string> lines;
    const ps::Station& st = *station_;
    if (!st.Running && st.LastRunEnd == ps::Station::RunEnd::PortNotOpened) {
        if (!st.LastPortError.empty()) lines.push_back(st.LastPortError);
        const std::string hint = ps::OpenFailureHint(st.Comm.DeviceName(), st.Comm.LastOpenErrno());
        if (!hint.empty()) lines.push_back(hint);
    }
    for (const std::string& hint : ps::RunHints(st, ps::StationHintContext(st)))
        lines.push_back(hint);
    return JoinLines(lines);
}

void TForm1::AfterRun() {
    // What the terminal station would tell on its standard error, for the status line.
    Map1->StatusLab()->setToolTip(RunDetails());
    emit RunFinished();
    if (terminateRequested_) {
        Terminate();
    } else if (closePending_) {
        closePending_ = false;
        QTimer::singleShot(0, this, &QWidget::close);
    }
}

void TForm1::StopBtnClick() {
    ps::StopBtnClick(*station_);
}
void TForm1::ContinueBtnClick() {
    ps::ContinueBtnClick(*station_);
}
void TForm1::ExitBtnClick() {
    ps::ExitBtnClick(*station_);
}

void TForm1::RequestTerminate() {
    if (terminateRequested_) return;
    terminateRequested_ = true;
    // During a run the program ends once the run has returned (AfterRun).
    if (!inRun_) Terminate();
}

void TForm1::Terminate() {
    terminateRequested_ = true;
    // Automatic mode hands the run's outcome to the script that started the program, also
    // when the window is closed before its run could start or end.
    const std::vector<std::string>& args = station_->CommandLineArgs;
    const bool automatic = !args.empty() && ps::ParseAutoArgument(args.front()).AutoMode;
    exitStatus_ = automatic ? ps::ExitStatusFor(*station_) : ps::ExitSuccess;
    closed_ = true;
    // The program ends the event loop on this signal (queued, so after this handler).
    emit Terminating(exitStatus_);
}

// ---------------------------------------------------------------------------------------------
// StationView

void TForm1::ShowStatus(const std::string& text, uint32_t colour) {
    Map1->SetStatusFontColor(colour);
    Map1->SetStatusText(FromStationText(text));
}

void TForm1::ShowFileName(const std::string& text) {
    Map1->SetFileNameText(FromStationText(text));
}

void TForm1::ShowWarning(const std::string& text) {
    QString tip = WarningMark->toolTip();
    if (!tip.isEmpty()) tip += '\n';
    WarningMark->setToolTip(tip + FromStationText(text));
    PlaceWarningMark();
    WarningMark->show();
    WarningMark->raise();
}

void TForm1::PlaceWarningMark() {
    QWidget* strip = WarningMark->parentWidget();
    WarningMark->adjustSize();
    WarningMark->move(strip->width() - WarningMark->width() - 6,
                      (strip->height() - WarningMark->height()) / 2);
}

void TForm1::SetProgress(int percent) {
    Map1->SetProgress(percent);
}

void TForm1::SetMapSize(int rows, int cols) {
    Map1->SetRows(rows);
    Map1->SetCols(cols);
}

void TForm1::SetMapVisible(bool visible) {
    Map1->SetMapVisible(visible);
}
void TForm1::SetBytesVisible(bool visible) {
    Map1->SetBytesVisible(visible);
}
void TForm1::SetBlock(int row, int col, uint32_t colour) {
    Map1->SetBlock(row, col, colour);
}
void TForm1::ClearBlocks() {
    Map1->ClearBlocks();
}

void TForm1::SetByteLabel(int index, const std::string& text) {
    Map1->SetByteLabel(index, FromStationText(text));
}

void TForm1::ShowPanels(bool start, bool stop, bool cont) {
    PanStart->setVisible(start);
    PanStop->setVisible(stop);
    PanCont->setVisible(cont);
}

void TForm1::ShowMessage(ps::MessageKind kind, const std::string& text) {
    QMessageBox box(
        kind == ps::MessageKind::Error ? QMessageBox::Critical : QMessageBox::Information,
        QString::fromLatin1(ProductTitle), FromStationText(text), QMessageBox::Ok, this);
    // The text stays as it is; what was tried goes into the box's details.
    if (kind == ps::MessageKind::Error) box.setDetailedText(RunDetails());
    box.exec();
}

void TForm1::PumpMessages() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

}  // namespace ps::gui

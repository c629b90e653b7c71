// SPDX-License-Identifier: MIT
#pragma once
#include <QWidget>
#include <array>
#include <memory>

#include "FancyButton.h"
#include "Map1.h"
#include "run/Station.h"
#include "display/StationView.h"
#include "link/Clock.h"

class QGroupBox;
class QLabel;
class QRadioButton;

namespace ps::gui {

// The window's own texts.
inline constexpr const char* ProductTitle = "ProgStation";
inline constexpr const char* ProductSubtitle = "programming station";
inline constexpr const char* ComPortTitle = "Com Port";
inline constexpr std::array<const char*, 4> ComPortItems = {"COM1", "COM2", "COM3", "COM4"};
inline constexpr const char* StartCaption = "&START";
inline constexpr const char* StopCaption = "STO&P";
inline constexpr const char* ContinueCaption = "&CONTINUE";
inline constexpr const char* ExitCaption = "E&XIT";
inline constexpr const char* ProjectsCaption = "Projects";

// Sizes and colours of the window (0x00BBGGRR).
constexpr int FormWidth = 752;
constexpr int FormHeight = 270;  // set at every activation
constexpr int HeaderHeight = 60;
constexpr int ProjectStripHeight = 22;
constexpr int ButtonStripHeight = 37;
constexpr TColor ProjectStripColour = 0xFF8000;  // blue
constexpr TColor MapStripColour = 0x84FFFF;      // light yellow
constexpr int StatusFontPixels = 19;
constexpr int FileNameFontPixels = 11;
constexpr TColor StartColour = 0x008000;     // green
constexpr TColor StopColour = 0x0000FF;      // red
constexpr TColor ContinueColour = 0x00FFFF;  // yellow
constexpr TColor HeaderTop = 0xFF1414;       // red 20, green 20, blue 255
constexpr TColor HeaderBottom = 0xFFC8C8;    // red 200, green 200, blue 255

// Colour of line i of a header d + 1 lines high: from HeaderTop to HeaderBottom, each part
// (top * (d - i) + bottom * i) / d in integer arithmetic.
TColor HeaderLineColour(int i, int d);
// Left edge of the logo in a strip: centred, halves to even, never negative.
int LogoLeft(int stripWidth, int logoWidth);

// The header: a vertical gradient, the logo in the middle, the title and version at the right.
class THeader : public QWidget {
    Q_OBJECT
public:
    explicit THeader(QWidget* parent = nullptr);
    QLabel* Logo() const { return logo_; }
    QLabel* LabTitle1() const { return labTitle1_; }
    QLabel* LabVer() const { return labVer_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QLabel* logo_;
    QLabel* labTitle1_;
    QLabel* labVer_;
};

// The main window: the station's view and the owner of its run state. START runs the
// project on the window's thread; the waits pump this window's events, which is when STOP,
// CONTINUE and EXIT take effect.
class TForm1 : public QWidget, public ps::StationView {
    Q_OBJECT
public:
    // clock: the station's time (a test's virtual clock); nullptr for the real one.
    explicit TForm1(ps::Clock* clock = nullptr, QWidget* parent = nullptr);
    ~TForm1() override;

    ps::Station& St() { return *station_; }

    // Event handlers of the window.
    void FormActivate();
    void StartBtnClick();
    void StopBtnClick();
    void ContinueBtnClick();
    void ExitBtnClick();

    int SelectedPort() const;  // 1..4 from the "Com Port" group
    void SelectPort(int port);
    bool RunUnderWay() const { return inRun_; }
    // Set once the program has been asked to end: the status it ends with.
    bool TerminateRequested() const { return terminateRequested_; }
    int ExitStatus() const { return exitStatus_; }

    // StationView.
    void ShowStatus(const std::string& text, uint32_t colour) override;
    void ShowFileName(const std::string& text) override;
    void SetProgress(int percent) override;
    void SetMapSize(int rows, int cols) override;
    void SetMapVisible(bool visible) override;
    void SetBytesVisible(bool visible) override;
    void SetBlock(int row, int col, uint32_t colour) override;
    void ClearBlocks() override;
    void SetByteLabel(int index, const std::string& text) override;
    void ShowPanels(bool start, bool stop, bool cont) override;
    void ShowMessage(ps::MessageKind kind, const std::string& text) override;
    void PumpMessages() override;
    void RequestTerminate() override;
    void ShowWarning(const std::string& text) override;

    // Parts of the window, named as the station's documents name them.
    THeader* Header;
    TBevelPanel* ProjectPanel;
    QLabel* LabProject;
    TFancyButton* ProjectBtn;
    TMap1* Map1;
    TBevelPanel* ButtonPanel;
    QGroupBox* ComPortDg;
    std::array<QRadioButton*, 4> ComPortItem;
    TBevelPanel* PanStart;
    TBevelPanel* PanStop;
    TBevelPanel* PanCont;
    TFancyButton* StartBtn;
    TFancyButton* StopBtn;
    TFancyButton* ContBtn;
    TFancyButton* ExitBtn;
    // A mark at the right end of the file-name line while the step's image has a warning;
    // its tooltip holds the warnings.
    QLabel* WarningMark;

signals:
    void RunFinished();
    // The program is to end now with this status (EXIT, the end of an automatic run).
    void Terminating(int status);

protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildProjectStrip();
    void BuildButtonStrip();
    void PlaceExitButton();
    void AfterRun();
    void Terminate();
    void PlaceWarningMark();
    QString PortListTip() const;
    // The hints of the terminal station for the run under way or the last one, one a line.
    QString RunDetails() const;

    std::unique_ptr<ps::Clock> ownClock_;
    std::unique_ptr<ps::Station> station_;
    bool firstActivation_ = true;
    bool activationFallbackArmed_ = false;
    bool inRun_ = false;
    bool closePending_ = false;
    bool closed_ = false;
    bool terminateRequested_ = false;
    int exitStatus_ = 0;
};

// Where the window's client area goes on a screen's available area, given the frame's
// extra size: centred, never beyond the screen's edges, narrower when the screen is.
QRect PlaceOnScreen(const QRect& available, const QSize& frame, const QSize& wanted);
inline const QSize FrameAllowance{8, 36};

// Text from the core (UTF-8, or Latin-1 bytes read from older step files) for Qt.
QString FromStationText(const std::string& text);
// Lines from the core as one text, one a line (a message box's details, a tooltip).
QString JoinLines(const std::vector<std::string>& lines);

}  // namespace ps::gui

// SPDX-License-Identifier: MIT
#pragma once
#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "production/GangRun.h"

class QLabel;
class QProgressBar;
class QSocketNotifier;
class QTimer;

namespace ps::gui {

class TFancyButton;

// The gang window's own texts.
inline constexpr const char* GangTitle = "ProgStation gang";
inline constexpr const char* GangIdleText = "press START";
inline constexpr const char* GangPassedText = "passed";
inline constexpr const char* GangFailedText = "failed, exit status %1";
inline constexpr const char* GangCountsText = "passed %1  failed %2";
inline constexpr const char* GangNoFileText = "FILE: -";

// Whom the gang window runs and how.
struct GangSetup {
    std::vector<int> Ports;
    std::vector<std::string> Devices;  // what each port leads to, in the order of Ports
    std::string Program;               // the terminal station that runs one port
    std::vector<std::string> RunArgs;  // passed on to every port's run
    std::string WorkDir;               // "" keeps the current folder
    bool Automatic = false;            // AUTO: START at once, end with the gang's status
};

struct SetupOptions;

// The gang of the desktop station's command line: --gang LIST, else [INIT] Gang=LIST of the
// settings file at iniPath. False with a message for a list that is not one; true with no
// ports when no gang is asked for (the window is the station's usual one).
bool GangFromOptions(const SetupOptions& options, const std::string& iniPath,
                     const std::string& programFolder, GangSetup& setup, std::string& error);

// One port's panel: port and device, file name, status line in its colour, gauge, elapsed
// time, last result, and the passes and failures since the window was opened.
struct GangPanel {
    QWidget* Frame = nullptr;
    QLabel* Port = nullptr;
    QLabel* File = nullptr;
    QLabel* Status = nullptr;
    QProgressBar* Gauge = nullptr;
    QLabel* Elapsed = nullptr;
    QLabel* Result = nullptr;
    QLabel* Counts = nullptr;
    int Passed = 0, Failed = 0;
};

// The desktop station's gang: one compact panel per port and one START, STOP, CONTINUE and
// EXIT for all. Each port is a run of the terminal station of its own (production/GangRun),
// whose lines the window reads on its event loop.
class TGangWindow : public QWidget {
    Q_OBJECT
public:
    explicit TGangWindow(GangSetup setup, QWidget* parent = nullptr);
    ~TGangWindow() override;

    void StartGang();
    void StopGang();
    void ContinueGang();
    void ExitGang();

    bool Running() const;
    int LastStatus() const { return lastStatus_; }
    const std::vector<GangPanel>& Panels() const { return panels_; }

    TFancyButton* StartBtn = nullptr;
    TFancyButton* StopBtn = nullptr;
    TFancyButton* ContBtn = nullptr;
    TFancyButton* ExitBtn = nullptr;

signals:
    // The window is done: the program ends with this status (AUTO: the gang's; otherwise 0).
    void Terminating(int status);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void ReadRun(size_t i);
    void RunEnded(size_t i);
    void Refresh(size_t i);
    void RefreshButtons();
    void Tick();

    GangSetup setup_;
    std::vector<GangPanel> panels_;
    std::unique_ptr<std::vector<PortRun>> runs_;
    std::unique_ptr<GangLifeline> lifeline_;
    std::vector<QSocketNotifier*> notifiers_;
    QTimer* ticker_ = nullptr;
    int lastStatus_ = 0;
    bool exitWhenOver_ = false;
    bool terminated_ = false;
};

}  // namespace ps::gui

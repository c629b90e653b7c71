// SPDX-License-Identifier: MIT
#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "display/MapGeometry.h"
#include "display/StationView.h"
#include "images/ImageReport.h"
#include "link/Clock.h"
#include "link/SerialPort.h"
#include "projects/CurrentProject.h"
#include "projects/StepSettings.h"

namespace ps {

class TMOT;
class RunRecorder;

// RunError values. 0 and 1 and the flows' codes are the station's historic ones; 10 to 15
// are ours, so that a run that failed for these reasons never looks like success.
enum RunErrorCode : int32_t {
    RunOk = 0,
    RunStopped = 1,      // STOP, EXIT, closing the window; 91360 refusals
    RunFlashOrFlow = 2,  // flash ID, Infineon stages, AVR fuse read-back
    RunUnlockRefused = 5,
    RunRecordNak = 8,
    RunBadStepValue = 10,      // a step-file value that cannot be used as it stands
    RunPortLost = 11,          // the port failed or vanished during the run
    RunImageFile = 12,         // image file missing or malformed
    RunModelUnavailable = 13,  // the step's model has no flow in this station
    RunBoardSilent = 14,       // the opt-in silence limit ran out in a wait
    RunFailed = 15,            // the run failed in a way no flow reports (out of memory, ...)
    RunAvrId = 23,
    RunWrongAvr = 24,
    RunAvrProtected = 25,
};

constexpr int BootLevel = 0;
constexpr int RunLevel = 1;
constexpr int ImageBufferCount = 8;
constexpr int ImageBufferSize = 32768;
constexpr int AvrImageSize = 0x20000;
// The station's port: driver queues of these sizes and no flow control. The component's
// own default is RTS/CTS, which on a cable or board that does not drive CTS holds every
// byte the station sends.
constexpr int StationReadBufSize = 40960;
constexpr int StationWriteBufSize = 4096;
constexpr TFlowControl StationFlowControl = fcNone;

// The run state that belongs to the main window. The Qt window and the terminal front end
// each own one Station and plug their view into it; flows take a Station&.
class Station : public ImageReporter {
public:
    Station(Clock& clock, StationView& view);
    ~Station() override;

    Clock& clock;
    StationView& view;

    // Run state.
    int32_t RunError = 0;
    int32_t ContinueRequested = 0;
    int32_t CurrentStep = 0;
    int32_t ErrorCount = 0;
    uint16_t ImageChecksum = 0;
    uint16_t TargetChecksum = 0;
    int32_t RangeStart = 0;
    int32_t RangeEnd = 0;
    std::array<int32_t, 256> RowByteCounts{};
    std::array<std::unique_ptr<uint8_t[]>, ImageBufferCount> ImageBuffers;
    std::string DeviceName;
    // Why the step's image was refused before its port was opened ("FILE: reason"), for
    // the hint; "" when it was not.
    std::string ImageProblem;
    bool AutoMode = false;
    bool AutoRunStarted = false;  // automatic mode runs the project once per program
    bool Running = false;         // a run is under way (START hidden)

    // How the last run ended, for the exit status (app/ExitStatus.h).
    enum class RunEnd { None, Completed, StepFileNotOpened, PortNotOpened };
    RunEnd LastRunEnd = RunEnd::None;
    int32_t FailedSteps = 0;    // steps that ended with "ERRORS: " or "CHECK SUM FAIL"
    std::string LastPortError;  // the port's own message when it could not be opened
    int LastExitStatus = 0;     // set when a run ends, before an automatic EXIT

    // Step settings, the current project and the program's command-line arguments.
    StepSettings Step;
    MapGeometry Map;
    CurrentProject Project;
    std::vector<std::string> CommandLineArgs;
    std::string IniPath;        // PROGRAMMER.INI in use
    std::string ProgramFolder;  // ends in '/'
    int SelectedPort = 1;       // the "Com Port" choice, 1..4, read at every step

    // The opt-in silence limit (0: off, waits have no time limit): a wait that has heard
    // nothing from the board for this long ends the run with RunBoardSilent. The waits
    // give up as for STOP; the controller then tells the two apart by SilenceTripped.
    int64_t SilenceLimitMs = 0;
    int64_t SilentUs = 0;  // time spent waiting since the board was last heard
    int64_t HeardBytes = 0;  // Comm.BytesReceived() when the board was last heard
    bool SilenceTripped = false;

    // The opt-in wait for a port whose device is missing when a step opens it (0: fail at
    // once with "ERROR : opening COM port.").
    int64_t WaitPortMs = 0;

    // Follows the run for a run record (--record); nullptr when none is kept.
    RunRecorder* Recorder = nullptr;

    TSerialPort Comm;
    std::unique_ptr<TMOT> Mot;      // made at the first activation
    std::vector<uint8_t> AvrImage;  // AvrImageSize bytes once used
    // The "INFINEON XC161CJ" image and its page-used flags (targets/bootloader/infineon),
    // sized when first used.
    std::vector<uint8_t> InfineonImage;
    std::vector<uint8_t> InfineonPageUsed;

    // Status line: the text and colour the operator sees now.
    const std::string& StatusText() const { return statusText_; }
    uint32_t StatusColour() const { return statusColour_; }
    void SetStatusColour(uint32_t colour);
    void Status(const std::string& text);        // replace the text
    void AppendStatus(const std::string& text);  // + t
    void Status(const std::string& text, uint32_t colour);
    void FileName(const std::string& text);
    void Progress(int percent);
    // Marks a block; the view is told only when the colour changes.
    void SetBlock(int row, int col, uint32_t colour);
    uint32_t GetBlock(int row, int col) const;
    void ClearBlocks();
    void ByteLabel(int index, const std::string& text);
    void ShowMapGeometry();  // hands Map's clamped size to the view

    // ImageReporter: message box, terminate request, run ends with RunImageFile.
    void ImageFileError(const std::string& message) override;
    // ImageReporter: shown through the view's warning; the run goes on.
    void ImageFileWarning(const std::string& message) override;
    bool TerminateRequested = false;

    void AllocateImageBuffers();
    void ReleaseImageBuffers();

private:
    std::string statusText_;
    uint32_t statusColour_ = StatusColorNormal;
    std::vector<uint32_t> blocks_;  // MapMaxRows * MapMaxCols
};

}  // namespace ps

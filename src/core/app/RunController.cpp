// SPDX-License-Identifier: MIT
#include "app/RunController.h"

#include <cerrno>
#include <exception>
#include <string>

#include "run/ExitStatus.h"
#include "app/InlineSequence.h"
#include "app/Models.h"
#include "run/Station.h"
#include "run/StepEnding.h"
#include "run/StepResult.h"
#include "run/Texts.h"
#include "images/HexConvert.h"
#include "images/ImageFile.h"
#include "link/Link.h"
#include "production/RunRecord.h"
#include "projects/StepFile.h"
#include "targets/ImageRules.h"
#include "targets/bootloader/infineon/InfineonFlow.h"
#include "targets/bootloader/sharc/Bridge.h"
#include "targets/bootloader/sharc/SharcSplitFlow.h"

namespace ps {

namespace {

constexpr int AutoExitDelayMs = 500;
constexpr int PortPollMs = 100;  // a missing port is looked for no faster than this
constexpr int ModelSharcBootFlash = 8;
constexpr int ModelSharcSplit = 6;

void ShowIdle(Station& st) {
    st.view.ShowPanels(true, false, false);
}

void CloseQuietly(Station& st) {
    try {
        if (st.Comm.Active()) st.Comm.Close();
    } catch (const ESerialPortError&) {
    }
}

// Releases the boot line on the way out; a port that has failed cannot be driven any more.
void ReleaseBootLineQuietly(Station& st) {
    try {
        SetBootLine(st, RunLevel);
    } catch (const ESerialPortError&) {
    }
}

// Steps 7.1 to 7.8 of a run: the port at the step's baud rate, boot and reset lines, the
// file-name line and the bank port. False when the port could not be opened.
bool SetUpStep(Station& st) {
    st.Progress(0);
    st.ClearBlocks();
    st.ShowMapGeometry();
    st.Step.ComPortNo = st.SelectedPort;  // the window's choice wins over "/COMn"
    OpenPort(st, st.SelectedPort, st.Step.BaudRate);
    const int64_t waitUntil = st.clock.NowMs() + st.WaitPortMs;
    bool waitShown = false;
    for (;;) {
        try {
            if (!st.Comm.Active()) st.Comm.Open();
            break;
        } catch (const ESerialPortError& e) {
            // The opt-in wait for a port whose device is missing (an adapter on a board being
            // swapped comes back a moment later): polled, and STOP ends it.
            if (st.WaitPortMs > 0 && st.Comm.LastOpenErrno() == ENOENT &&
                st.clock.NowMs() < waitUntil) {
                if (!waitShown) {
                    st.Status(TextWaitingForPort + std::to_string(st.SelectedPort) + "...",
                              StatusColorNormal);
                    waitShown = true;
                }
                PauseMsUnlessStopped(st, PortPollMs);
                if (st.RunError == RunStopped) return true;  // the run ends with "BREAK"
                continue;
            }
            st.LastPortError = e.what();
            ReleaseBootLineQuietly(st);
            CloseQuietly(st);
            return false;
        }
    }
    // The port component's rate list stops short of 7200: set it on the open port directly.
    if (st.Step.BaudRate == "7200") st.Comm.SetRawBaud(7200);
    DrainInput(st);
    PauseMs(st, 100);
    if (st.Step.Boot) SetBootLine(st, BootLevel);
    if (st.Step.Reset) PulseReset(st);
    DrainInput(st);
    st.FileName((TextFilePrefix + st.Step.ProgramFile).substr(0, FileNameLineMax));
    PumpMessages(st);
    st.RowByteCounts[0] = 0;
    SetBankPort(st);
    return true;
}

// The end of an inline step: the model-8 closing byte, result text, CONTINUE, "/AUTORESET".
// False when the run was stopped during the pause.
bool EndInlineStep(Station& st) {
    // The DSP's session ends (the bridge confirms) before the verdict is shown, so STOP
    // while the bridge is silent ends with "BREAK" alone, never after a success text.
    if (st.Step.ModelIndex == ModelSharcBootFlash) {
        EndSharcExchange(st);
        if (st.RunError != RunOk) return false;
    }
    ShowStepResult(st, TextProgramedOkLower, st.Step.CheckSum);
    return StepEnding(st);
}

// Every data byte of the image must reach the board at its own address: an image the
// step's loader would read in part, or not at all, or put elsewhere (an image without data
// among them) would erase the target, write less than the file and still pass every check.
// Such a step is refused before the port is even opened, nothing erased or sent. A file
// that cannot be opened is left to the flow, which reports it in its own words.
bool ImageIsProgrammable(Station& st) {
    st.ImageProblem.clear();
    if (st.Step.ModelIndex == ModelSharcSplit && !st.Step.ProgramFile.empty()) {
        // The split records are read by their flow's own reader, which here only counts.
        SharcSplitImage counted;
        LoadSharcRecords(st, st.Step.ProgramFile, true, counted);
        return st.RunError == RunOk;
    }
    // A long file is read with the window alive: STOP ends the run here as anywhere.
    const StepImageAccount image = AccountStepImage(st.Step, st.Map, {}, [&st] {
        PumpMessages(st);
        return st.RunError == RunOk;
    });
    if (image.Account.Stopped) return false;
    std::string problem;
    std::string path = image.Path;
    if (image.Applies && image.Account.Opened && !image.Account.Programmable())
        problem = image.Account.Problem();
    if (problem.empty() && st.Step.ModelIndex == InfineonModelIndex)
        problem = InfineonStageProblem(st, path);
    if (problem.empty()) return true;
    st.ImageProblem = path + ": " + problem;
    if (st.Recorder) st.Recorder->Warning(st.ImageProblem);
    // A field that is no hex number ends the run as the strict conversion always has, with
    // its message; the hint has the plain words.
    if (image.Account.Malformed == BadHexDigit)
        st.ImageFileError(NotValidIntegerMessage("$" + image.Account.BadText));
    else
        st.ImageFileError(NotHexMessage(path, problem));
    return false;
}

// Runs one loaded step: setup, the model's flow or the inline sequence. Returns false when
// the run must end at once without the end-of-run actions (the port could not be opened).
bool RunStep(Station& st) {
    // Each step reports its own refusals: a count left by an earlier step or run would
    // otherwise end a clean step with "ERRORS: ".
    st.ErrorCount = 0;
    st.SilentUs = 0;
    if (st.Recorder) st.Recorder->StepStarted(st);
    if (!ImageIsProgrammable(st)) return true;
    if (!SetUpStep(st)) return false;
    if (st.RunError != RunOk) return true;
    const int32_t model = st.Step.ModelIndex;
    if (!ModelAvailable(model)) {
        st.Status(TextModelUnavailable + std::string(ModelName(model)), StatusColorError);
        st.RunError = RunModelUnavailable;
        return true;
    }
    if (FlowFunction flow = ModelFlow(model)) {
        flow(st);
    } else {
        RunInlineSequence(st);
        if (st.RunError == RunOk) EndInlineStep(st);
    }
    // A flow that ends its step in the error colour without ending the run ("ERRORS: ",
    // "CHECK SUM FAIL") leaves a failed step behind, which the exit status must tell.
    if (st.RunError == RunOk && st.StatusColour() == StatusColorError) ++st.FailedSteps;
    if (st.Recorder) st.Recorder->StepEnded(st);
    return true;
}

int ComputeExitStatus(const Station& st) {
    switch (st.LastRunEnd) {
        case Station::RunEnd::StepFileNotOpened:
            return ExitStepFile;
        case Station::RunEnd::PortNotOpened:
            return ExitComPort;
        default:
            break;
    }
    switch (st.RunError) {
        case RunOk:
            return st.FailedSteps > 0 ? ExitStepErrors : ExitSuccess;
        case RunStopped:
            return ExitBreak;
        case RunBadStepValue:
            return ExitStepFile;
        case RunPortLost:
            return ExitComPort;
        case RunImageFile:
            return ExitImageFile;
        case RunModelUnavailable:
            return ExitModelUnavailable;
        case RunFailed:
            return ExitRunFailed;
        default:
            return st.RunError;
    }
}

void EndRunEarly(Station& st, const char* text, Station::RunEnd how) {
    ShowIdle(st);
    st.Status(text, StatusColorError);
    st.ReleaseImageBuffers();
    st.LastRunEnd = how;
    st.LastExitStatus = ComputeExitStatus(st);
    st.Running = false;
    if (st.Recorder) st.Recorder->RunEnded(st);
}

}  // namespace

namespace {

// Steps 3 to 11 of a run: the step loop. False when the run has already ended at once
// (the step file or the port could not be opened), without the end-of-run actions.
bool RunSteps(Station& st) {
    st.CurrentStep = 1;
    for (;;) {
        const int loaded =
            LoadStep(st.CurrentStep, st.Project, st.CommandLineArgs, st.Step, st.Map);
        if (loaded == StepFileNotOpened) {
            EndRunEarly(st, TextErrorOpeningFile, Station::RunEnd::StepFileNotOpened);
            return false;
        }
        // A missing step ends the project even when "/S" comes from the command line or the
        // extra parameters for every step; otherwise such a run would never end.
        if (loaded == StepMissing) return true;
        if (!st.Step.SkipStep) {
            if (!st.Step.LoadError.empty()) {
                st.Status(st.Step.LoadError, StatusColorError);
                st.RunError = RunBadStepValue;
                return true;
            }
            bool portOpened = true;
            try {
                portOpened = RunStep(st);
            } catch (const ESerialPortError& e) {
                st.Status(TextPortLost + std::string(e.what()), StatusColorError);
                st.RunError = RunPortLost;
            } catch (const EConvertError& e) {
                // STOP wins: an image line read after STOP that turns out malformed still
                // ends the run as stopped.
                if (st.RunError != RunStopped) {
                    st.view.ShowMessage(MessageKind::Error, e.what());
                    if (st.RunError == RunOk) st.RunError = RunImageFile;
                }
            }
            if (!portOpened) {
                EndRunEarly(st, TextErrorOpeningComPort, Station::RunEnd::PortNotOpened);
                return false;
            }
        }
        ++st.CurrentStep;
        if (st.RunError != RunOk) return true;
        if (st.Step.ProgramFile.empty()) return true;
        // STOP ends the run between any two steps, also in a long stretch of skipped ones.
        PumpMessages(st);
        if (st.RunError != RunOk) return true;
    }
}

}  // namespace

void StartBtnClick(Station& st) {
    if (st.Running) return;  // a run never starts inside another
    st.Running = true;
    st.LastRunEnd = Station::RunEnd::None;
    st.FailedSteps = 0;
    st.LastPortError.clear();
    st.SilenceTripped = false;
    // Anything that fails in a way the flows do not report (memory, a fault of ours) ends
    // the run like any other error: the run state must be reset, or START would never work
    // again.
    try {
        st.view.ShowPanels(false, true, false);
        PumpMessages(st);
        st.RunError = RunOk;
        if (st.Recorder) st.Recorder->RunStarted(st);
        ResetRunSettings(st.Step, st.SelectedPort);
        st.AllocateImageBuffers();
        if (!RunSteps(st)) return;
    } catch (const std::exception& e) {
        st.Status(TextRunFailed + std::string(e.what()), StatusColorError);
        st.RunError = RunFailed;
    } catch (...) {
        st.Status(TextRunFailed, StatusColorError);
        st.RunError = RunFailed;
    }

    if (st.SilenceTripped && st.RunError != RunFailed) {
        st.RunError = RunBoardSilent;
        st.Status(TextNoAnswer + std::to_string(st.SilenceLimitMs / 1000) + " s", StatusColorError);
    } else if (st.RunError == RunStopped) {
        st.Status(TextBreak, StatusColorError);
    }
    // The run's outcome is settled and shown: a STOP pressed while the boot line is released
    // below (it waits 100 ms) must not turn a finished run into a stopped one.
    const int32_t outcome = st.RunError;
    ReleaseBootLineQuietly(st);
    st.RunError = outcome;
    CloseQuietly(st);
    ShowIdle(st);
    st.ReleaseImageBuffers();
    st.LastRunEnd = Station::RunEnd::Completed;
    st.LastExitStatus = ComputeExitStatus(st);
    st.Running = false;
    if (st.Recorder) st.Recorder->RunEnded(st);
    if (st.AutoMode) {
        PauseMs(st, AutoExitDelayMs);
        ExitBtnClick(st);
    }
}

void StopBtnClick(Station& st) {
    st.RunError = RunStopped;
}

void ContinueBtnClick(Station& st) {
    st.ContinueRequested = 1;
}

void ExitBtnClick(Station& st) {
    st.ContinueRequested = 1;
    st.RunError = RunStopped;
    st.view.RequestTerminate();
}

int ExitStatusFor(const Station& st) {
    // A program that ends before its run has ended (a window closed while its automatic run
    // was still to start) has programmed nothing: that is no success.
    if (st.LastRunEnd == Station::RunEnd::None) return ExitBreak;
    return st.LastExitStatus;
}

}  // namespace ps

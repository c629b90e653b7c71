// SPDX-License-Identifier: MIT
#include "run/Station.h"
#include "run/StepEnding.h"
#include "run/StepResult.h"
#include "link/Link.h"
#include "targets/bootloader/intel/IntelFlows.h"
#include "targets/bootloader/intel/IntelImage.h"
#include "targets/bootloader/intel/IntelTexts.h"

namespace ps {

namespace {
constexpr int FlashIdErrorPauseMs = 500;  // time to read the text before the run ends
}  // namespace

void IntelLoaderFlash(Station& st) {
    const StepSettings& step = st.Step;
    st.DeviceName.clear();
    // The window is checked and the image read before the flash is touched.
    if (!IntelStepUsable(st, ModelIntelLoaderFlash)) return;

    if (step.FlashId) {
        const std::string name = IdentifyFlash(st);
        if (st.RunError != RunOk) return;  // stopped: the code read is meaningless
        st.DeviceName = name;
        if (name == IntelFlashNameError) {
            st.Status(IntelMsgFlashIdError, StatusColorError);
            PumpMessages(st);
            WaitMs(st, FlashIdErrorPauseMs);
            if (st.RunError == RunOk) st.RunError = RunFlashOrFlow;
            return;
        }
        st.AppendStatus(IntelMsgOk);
    }
    st.AppendStatus(IntelMsgOk);

    if (step.EraseFlash) {
        st.Status(IntelMsgErasingFlash, StatusColorNormal);
        PumpMessages(st);
        EraseMemory(st);
        if (st.RunError != RunOk) return;  // never " ok" after STOP
        st.AppendStatus(IntelMsgOk);
    }

    if (!st.DeviceName.empty()) st.DeviceName += IntelDeviceNameTail;
    st.Status(st.DeviceName + IntelMsgProgramming);
    if (!step.ProgramFile.empty()) ProgramIntelImage(st, ModelIntelLoaderFlash);
    if (st.RunError != RunOk) return;
    if (step.RunAddr > 0) RunAtAddress32(st, static_cast<uint32_t>(step.RunAddr));

    ShowStepResult(st, IntelMsgProgramedOk, false);
    StepEnding(st);
}

}  // namespace ps

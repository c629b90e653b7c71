// SPDX-License-Identifier: MIT
#include "run/Station.h"
#include "run/StepEnding.h"
#include "run/StepResult.h"
#include "link/Link.h"
#include "targets/bootloader/intel/IntelFlows.h"
#include "targets/bootloader/intel/IntelImage.h"
#include "targets/bootloader/intel/IntelTexts.h"

namespace ps {

void IntelLoaderRam(Station& st) {
    const StepSettings& step = st.Step;
    // The window is checked and the image read before the RAM is erased.
    if (!IntelStepUsable(st, ModelIntelLoaderRam)) return;
    if (step.EraseRam) {
        st.Status(IntelMsgErasingRam);
        EraseRange(st, static_cast<uint16_t>(step.AddrStart), static_cast<uint16_t>(step.AddrLen));
    }
    if (st.RunError != RunOk) return;

    st.Status(st.DeviceName + IntelMsgProgramming);
    if (!step.ProgramFile.empty()) ProgramIntelImage(st, ModelIntelLoaderRam);
    if (st.RunError != RunOk) return;
    if (step.RunAddr > 0) RunAtAddress16(st, static_cast<uint16_t>(step.RunAddr));
    if (st.RunError != RunOk) return;

    ShowStepResult(st, IntelMsgProgramedOk, false);
    StepEnding(st);
}

}  // namespace ps

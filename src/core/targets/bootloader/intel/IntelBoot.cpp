// SPDX-License-Identifier: MIT
#include "run/Station.h"
#include "run/StepEnding.h"
#include "run/StepResult.h"
#include "targets/avr/SrecToBin.h"
#include "targets/bootloader/intel/IntelFlows.h"
#include "targets/bootloader/intel/IntelImage.h"
#include "targets/bootloader/intel/IntelTexts.h"

namespace ps {

void IntelBoot(Station& st) {
    const StepSettings& step = st.Step;
    if (!IntelStepUsable(st, ModelIntelBoot)) return;
    st.Status(st.DeviceName + IntelMsgProgramming);
    if (!step.ProgramFile.empty()) ProgramIntelImage(st, ModelIntelBoot);
    // STOP, a bad file or a refusal: its own text (or "BREAK") stands, never a success.
    if (st.RunError != RunOk) return;

    bool copied = true;
    if (step.SaveImage && step.AddrLen > 0 && !step.ProgramFile.empty())
        copied = SrecToBin(st, step.ProgramFile, ImageCopyName(st.CurrentStep));
    if (st.RunError != RunOk) return;
    // A failed copy leaves "SAVE .BIN FILE :      ERROR" standing in place of the result.
    // "/CHECKSUM" is not looked at: the boot monitor answers nothing, so there is no checksum
    // of the board, and the station's last one belongs to an earlier step.
    if (copied) ShowStepResult(st, IntelMsgProgramedOk, false);
    StepEnding(st);
}

}  // namespace ps

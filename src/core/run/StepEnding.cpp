// SPDX-License-Identifier: MIT
#include "run/StepEnding.h"

#include "run/Station.h"
#include "link/Link.h"

namespace ps {

bool WaitForContinue(Station& st) {
    st.view.ShowPanels(false, true, true);
    st.ContinueRequested = 0;
    while (st.ContinueRequested != 1 && st.RunError != RunStopped) {
        PumpMessages(st);
        if (st.ContinueRequested == 1 || st.RunError == RunStopped) break;
        WaitForOperator(st);
    }
    st.view.ShowPanels(false, true, false);
    if (st.RunError == RunStopped) return false;
    PumpMessages(st);
    return true;
}

bool StepEnding(Station& st) {
    if (!st.Step.AutoContinue && !WaitForContinue(st)) return false;
    if (st.Step.AutoReset) {
        SetBootLine(st, RunLevel);
        PulseReset(st);
    }
    return true;
}

}  // namespace ps

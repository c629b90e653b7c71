// SPDX-License-Identifier: MIT
#include "app/StepEnding.h"

#include "app/RunController.h"
#include "app/Station.h"
#include "link/Link.h"

namespace ps {

bool StepEnding(Station& st) {
    if (!st.Step.AutoContinue && !WaitForContinue(st)) return false;
    if (st.Step.AutoReset) {
        SetBootLine(st, RunLevel);
        PulseReset(st);
    }
    return true;
}

}  // namespace ps

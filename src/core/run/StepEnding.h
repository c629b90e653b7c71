// SPDX-License-Identifier: MIT
#pragma once

namespace ps {

class Station;

// The pause at the end of a step: CONTINUE panel shown until CONTINUE (true) or STOP (false).
bool WaitForContinue(Station& st);

// The end of a programmed step, shared by the inline steps and the boot-loader flows: the
// CONTINUE pause unless "/AUTOCONTINUE", then "/AUTORESET" (boot line released, reset
// pulsed). Returns false when the run was stopped during the pause; the reset is then not
// pulsed.
bool StepEnding(Station& st);

}  // namespace ps

// SPDX-License-Identifier: MIT
#pragma once

namespace ps {

class Station;

// START: runs the current project from step 1 and returns when the run has ended.
void StartBtnClick(Station& st);
// STOP: RunError := 1; every wait gives up.
void StopBtnClick(Station& st);
// CONTINUE: ContinueRequested := 1.
void ContinueBtnClick(Station& st);
// EXIT: ContinueRequested := 1, RunError := 1, and the program is asked to end.
void ExitBtnClick(Station& st);

// The pause at the end of a step: shows CONTINUE and waits for it (or STOP). Returns false
// when the run was stopped.

}  // namespace ps

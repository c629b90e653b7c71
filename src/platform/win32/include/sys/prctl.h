// SPDX-License-Identifier: MIT
#pragma once
// Windows has no timer slack to set: the request is taken and does nothing.
#define PR_SET_TIMERSLACK 29
inline int prctl(int, ...) { return 0; }

// SPDX-License-Identifier: MIT
#pragma once
#include <string>

namespace ps {

class Station;

// "AUTO" on the command line: the first argument, in any case, beginning with "AUTO";
// "AUTO=n" also names a project number (0 when no digits follow).
struct AutoArgument {
    bool AutoMode = false;
    int ProjectNumber = 0;
};
AutoArgument ParseAutoArgument(const std::string& firstArgument);

// Everything an activation of the main window does that is not layout: the first time the
// fixed settings and TMOT; every time AutoMode off, the current project reselected, map
// grid and byte column hidden, COM1 reselected unless a run is under way, Crc32Table
// filled, and "AUTO" read.
// Returns true when a run must start now (automatic mode, and no run is under way: a
// message box closed during a run re-activates the window and must not start a second run).
bool ActivateStation(Station& st, bool& firstActivation);

// The window is closing: close the port, stop a run at its next wait.
void CloseStation(Station& st);

}  // namespace ps

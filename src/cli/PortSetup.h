// SPDX-License-Identifier: MIT
#pragma once
#include <string>
#include <vector>

#include "app/Hints.h"

namespace ps {

class Clock;
class Station;

// Gives the station's port its map: COMn from the environment, [Ports] of PROGRAMMER.INI,
// or /dev/ttyS<n-1>; "sim:" ports are simulated boards in this process.
void SetUpPorts(Station& st, Clock& clock);

// What COM1..COM4 lead to under the settings file at iniPath ("/dev/ttyUSB0", "sim:avr"),
// for the port listing.
std::vector<std::string> ComTargets(const std::string& iniPath);
// The same for COM1..COMcount.
std::vector<std::string> ComTargetsUpTo(const std::string& iniPath, int count);

// Where the hints after a failed run look: the current folder, this station's port map and
// settings file, and the examples of this installation.
HintContext HintContextFor(const Station& st);

// A hint for an operator whose port could not be opened (permissions), or "".
std::string PortOpenHint(const Station& st);

}  // namespace ps

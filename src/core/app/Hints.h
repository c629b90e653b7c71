// SPDX-License-Identifier: MIT
#pragma once
#include <string>
#include <vector>

#include "link/PortList.h"
#include "link/PortMap.h"

namespace ps {

class Station;

// What a newcomer needs beside a failed run's status text: where the station looked and
// what to do. The status texts stay as they are; these lines go to standard error of the
// terminal station (each begins "hint: ") and to the window's tooltip.
struct HintContext {
    std::string WorkingFolder;   // where relative names were looked up
    PortMapConfig Ports;         // the map the station's port used
    std::string IniPath;         // the settings file read, for "[Ports] in ..."
    std::string ExamplesFolder;  // ready projects, when this station has them; "" none
    PortListRoots Roots;         // where the serial devices are listed from
};

// The hints for the run that ended last, or for the run under way so far (a message box of
// the run shows them); none when it succeeded or failed in a way these do not cover.
std::vector<std::string> RunHints(const Station& st, const HintContext& ctx);

// The context of a station run from the current folder: its port map from the settings
// file it reads, and the examples of this installation.
HintContext StationHintContext(const Station& st);

// Why a file the station was to write could not be written: the full path tried and the
// reason found on disk (missing folder, no permission, not a regular file, ...).
std::vector<std::string> WriteHints(const std::string& path);

// The examples folder of a station whose program lives in programFolder: the installed
// data folder (../share/progstation/examples) or a source checkout's examples/ beside the
// build folder; "" when neither exists.
std::string FindExamplesFolder(const std::string& programFolder);

}  // namespace ps

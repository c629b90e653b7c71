// SPDX-License-Identifier: MIT
#pragma once
#include <functional>
#include <memory>
#include <string>

#include "link/PortMap.h"

namespace ps {

class Station;

// The port map of a station whose settings file is iniPath: COMn from the environment,
// [Ports] of that file, or /dev/ttyS<n-1>. No simulated boards.
PortMapConfig StationPortConfig(const std::string& iniPath);

// Gives the station's port the map of its settings file (st.IniPath); "sim:" ports are
// made by simFactory (the programs pass the in-process simulated boards).
void SetUpStationPorts(Station& st, PortMapConfig::DeviceFactory simFactory);

}  // namespace ps

// SPDX-License-Identifier: MIT
#include "app/StationPorts.h"

#include "run/Station.h"
#include "projects/Settings.h"

namespace ps {

PortMapConfig StationPortConfig(const std::string& iniPath) {
    PortMapConfig config;
    config.IniLookup = [iniPath](const std::string& key) {
        return ReadSetting(iniPath, PortIniSection, key, "");
    };
    return config;
}

void SetUpStationPorts(Station& st, PortMapConfig::DeviceFactory simFactory) {
    PortMapConfig config = StationPortConfig(st.IniPath);
    config.SimFactory = std::move(simFactory);
    st.Comm.SetResolver(MakePortResolver(std::move(config)));
}

}  // namespace ps

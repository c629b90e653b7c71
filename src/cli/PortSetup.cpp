#include "cli/PortSetup.h"

#include "app/Station.h"
#include "link/PortMap.h"
#include "projects/Settings.h"
#include "sim/Boards.h"

namespace ps {

void SetUpPorts(Station& st, Clock& clock) {
    PortMapConfig config;
    const std::string iniPath = st.IniPath;
    config.IniLookup = [iniPath](const std::string& key) {
        return ReadSetting(iniPath, PortIniSection, key, "");
    };
    config.SimFactory = sim::SimDeviceFactory(clock);
    st.Comm.SetResolver(MakePortResolver(std::move(config)));
}

std::vector<std::string> ComTargets(const std::string& iniPath) {
    PortMapConfig config;
    config.IniLookup = [iniPath](const std::string& key) {
        return ReadSetting(iniPath, PortIniSection, key, "");
    };
    std::vector<std::string> targets;
    for (int n = 1; n <= 4; ++n) targets.push_back(ResolvePortTarget(n, config).Value);
    return targets;
}

std::string PortOpenHint(const Station& st) {
    return OpenFailureHint(st.Comm.DeviceName(), st.Comm.LastOpenErrno());
}

}  // namespace ps

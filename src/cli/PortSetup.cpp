#include "cli/PortSetup.h"

#include <unistd.h>

#include "app/Station.h"
#include "link/PortMap.h"
#include "projects/Settings.h"
#include "sim/Boards.h"

namespace ps {

namespace {
PortMapConfig ConfigFor(const std::string& iniPath) {
    PortMapConfig config;
    config.IniLookup = [iniPath](const std::string& key) {
        return ReadSetting(iniPath, PortIniSection, key, "");
    };
    return config;
}
}  // namespace

void SetUpPorts(Station& st, Clock& clock) {
    PortMapConfig config = ConfigFor(st.IniPath);
    config.SimFactory = sim::SimDeviceFactory(clock);
    st.Comm.SetResolver(MakePortResolver(std::move(config)));
}

std::vector<std::string> ComTargetsUpTo(const std::string& iniPath, int count) {
    const PortMapConfig config = ConfigFor(iniPath);
    std::vector<std::string> targets;
    for (int n = 1; n <= count; ++n) targets.push_back(ResolvePortTarget(n, config).Value);
    return targets;
}

std::vector<std::string> ComTargets(const std::string& iniPath) {
    return ComTargetsUpTo(iniPath, 4);
}

HintContext HintContextFor(const Station& st) {
    return StationHintContext(st);
}

std::string PortOpenHint(const Station& st) {
    return OpenFailureHint(st.Comm.DeviceName(), st.Comm.LastOpenErrno());
}

}  // namespace ps

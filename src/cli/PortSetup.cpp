// SPDX-License-Identifier: MIT
#include "cli/PortSetup.h"

#include <unistd.h>

#include "run/Station.h"
#include "app/StationPorts.h"
#include "link/PortMap.h"
#include "sim/Boards.h"

namespace ps {

void SetUpPorts(Station& st, Clock& clock) {
    SetUpStationPorts(st, sim::SimDeviceFactory(clock));
}

std::vector<std::string> ComTargetsUpTo(const std::string& iniPath, int count) {
    const PortMapConfig config = StationPortConfig(iniPath);
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

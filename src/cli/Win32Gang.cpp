// SPDX-License-Identifier: MIT
// Gang runs on Windows: not yet (they start one child per port; the POSIX form uses fork
// and poll). The option is refused with a clear message rather than run half-way.
#include <cstdio>

#include "run/ExitStatus.h"
#include "cli/Gang.h"

namespace ps {

constexpr char GangUnavailable[] =
    "progstation-cli: --gang is not available in the Windows build yet; run one "
    "progstation-cli per port\n";

// No gang starts a run here, so no run has a gang to lose.
bool GangVanished() {
    return false;
}

int RunGang(const std::vector<int>&, const std::vector<std::string>&, const std::string&) {
    std::fputs(GangUnavailable, stderr);
    return ExitUsage;
}

}  // namespace ps

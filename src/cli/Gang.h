// SPDX-License-Identifier: MIT
#pragma once
#include <string>
#include <vector>

#include "production/GangRun.h"

namespace ps {

// The terminal's gang (see production/GangRun.h for the runs themselves): on a terminal one
// live line per port; otherwise every line of a run prefixed with its port. A line on
// standard input continues every port that waits; Ctrl-C stops them all. Returns 0 when
// every port succeeded, else the exit status of the first port in the list that did not.
int RunGang(const std::vector<int>& ports, const std::vector<std::string>& childArgs,
            const std::string& iniPath);

}  // namespace ps

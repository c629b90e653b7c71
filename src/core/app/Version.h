// SPDX-License-Identifier: MIT
#pragma once
#include <string>

namespace ps {

// "0.1" from the build's project version, followed by " (commit abc1234)" when the build
// was made from a git checkout.
std::string VersionText();

}  // namespace ps

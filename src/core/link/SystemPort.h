// SPDX-License-Identifier: MIT
#pragma once
#include <memory>
#include <string>

#include "link/PortDevice.h"

namespace ps {

// What a COM number means on this system when nothing maps it: /dev/ttyS<n-1> on Linux,
// \\.\COMn on Windows.
std::string SystemPortPath(int portNum);

// The system's device for a path a COM number resolved to, or nullptr when there is no
// such device (so the port reports "no such port", not an open failure).
std::unique_ptr<PortDevice> MakeSystemPortDevice(const std::string& path);

}  // namespace ps

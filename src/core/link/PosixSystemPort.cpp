// SPDX-License-Identifier: MIT
#include <sys/stat.h>

#include <cerrno>

#include "link/PosixPortDevice.h"
#include "link/SystemPort.h"

namespace ps {

std::string SystemPortPath(int portNum) {
    return "/dev/ttyS" + std::to_string(portNum - 1);
}

std::unique_ptr<PortDevice> MakeSystemPortDevice(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 && (errno == ENOENT || errno == ENOTDIR)) return nullptr;
    return std::make_unique<PosixPortDevice>(path);
}

}  // namespace ps

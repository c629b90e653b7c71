// SPDX-License-Identifier: MIT
#include "link/PortMap.h"

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <initializer_list>
#include <vector>

#include "link/PosixPortDevice.h"
#include "link/SystemPort.h"

namespace ps {

namespace {

std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return "";
    size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

std::string ProcessEnv(const std::string& name) {
    const char* v = std::getenv(name.c_str());
    return v != nullptr ? v : "";
}

std::string GroupName(gid_t gid) {
    struct group grp {};
    struct group* found = nullptr;
    std::vector<char> buf(4096);
    while (getgrgid_r(gid, &grp, buf.data(), buf.size(), &found) == ERANGE && buf.size() < 65536)
        buf.resize(buf.size() * 2);
    if (found == nullptr) return std::to_string(gid);
    return found->gr_name;
}

// Fills each "%s" of format with the next of the values.
std::string Fill(const char* format, std::initializer_list<std::string> values) {
    std::string out;
    auto next = values.begin();
    for (const char* p = format; *p != '\0'; ++p) {
        if (p[0] == '%' && p[1] == 's' && next != values.end()) {
            out += *next++;
            ++p;
        } else {
            out += *p;
        }
    }
    return out;
}

}  // namespace

PortTarget ResolvePortTarget(int portNum, const PortMapConfig& config) {
    PortTarget target;
    if (portNum < 1) return target;
    if (portNum <= MappedPortCount) {
        std::string key = "COM" + std::to_string(portNum);
        std::string env =
            Trim(config.EnvLookup ? config.EnvLookup(PortEnvPrefix + std::to_string(portNum))
                                  : ProcessEnv(PortEnvPrefix + std::to_string(portNum)));
        if (!env.empty()) return {env, PortSource::Environment};
        std::string ini = config.IniLookup ? Trim(config.IniLookup(key)) : "";
        if (!ini.empty()) return {ini, PortSource::Ini};
    }
    target.Value = SystemPortPath(portNum);
    return target;
}

PortResolver MakePortResolver(PortMapConfig config) {
    return [config = std::move(config)](int portNum) -> std::unique_ptr<PortDevice> {
        PortTarget target = ResolvePortTarget(portNum, config);
        if (target.Value.empty()) return nullptr;
        const std::string prefix = SimPortPrefix;
        if (target.Value.compare(0, prefix.size(), prefix) == 0) {
            if (!config.SimFactory) return nullptr;
            return config.SimFactory(target.Value.substr(prefix.size()));
        }
        return MakeSystemPortDevice(target.Value);
    };
}

std::string DescribePort(int portNum, const PortMapConfig& config) {
    std::string name = "COM" + std::to_string(portNum);
    PortTarget target = ResolvePortTarget(portNum, config);
    if (target.Value.empty()) return name + " (no such port)";
    std::string text = name + " = " + target.Value;
    switch (target.Source) {
        case PortSource::Default:
            return text + " (default)";
        case PortSource::Ini:
            return text + " (from PROGRAMMER.INI [" + PortIniSection + "] " + name + ")";
        case PortSource::Environment:
            return text + " (from " + PortEnvPrefix + std::to_string(portNum) + ")";
    }
    return text;
}

std::string OpenFailureHint(const std::string& devicePath, int err) {
    if (err == EACCES || err == EPERM) {
        struct stat st {};
        if (::stat(devicePath.c_str(), &st) != 0) return Fill(HintPermission, {devicePath});
        return Fill(HintPermissionGroup, {devicePath, GroupName(st.st_gid)});
    }
    if (err == EBUSY && IsSystemConsole(devicePath)) return Fill(HintConsole, {devicePath});
    if (err == EBUSY) return Fill(HintBusy, {devicePath});
    return "";
}

}  // namespace ps

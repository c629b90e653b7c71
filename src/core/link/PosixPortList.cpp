// SPDX-License-Identifier: MIT
// The serial devices of a Linux machine, from sysfs and /dev.
#include "link/PortList.h"

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace ps {

namespace fs = std::filesystem;

namespace {

// Name prefixes of ttys that are never serial ports (virtual consoles, pty masters).
bool IsVirtualTty(const std::string& name) {
    if (name == "tty" || name == "console" || name == "ptmx") return true;
    if (name.rfind("tty", 0) == 0 && name.size() > 3 &&
        std::all_of(name.begin() + 3, name.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return true;  // tty0..tty63
    return name.rfind("pty", 0) == 0 || name.rfind("ttyp", 0) == 0;
}

std::string ReadLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' '))
        line.pop_back();
    return line;
}

std::string LinkName(const fs::path& link) {
    std::error_code ec;
    const fs::path target = fs::read_symlink(link, ec);
    return ec ? std::string() : target.filename().string();
}

// The USB device a tty hangs off: the nearest folder above its device that has idVendor.
fs::path UsbDeviceOf(const fs::path& device) {
    std::error_code ec;
    fs::path p = fs::canonical(device, ec);
    if (ec) return {};
    for (int depth = 0; depth < 6 && !p.empty() && p != p.root_path(); ++depth) {
        if (fs::exists(p / "idVendor", ec)) return p;
        p = p.parent_path();
    }
    return {};
}

// Names under /dev/serial/by-id and by-path, with the device each leads to.
std::vector<std::pair<std::string, std::string>> StableNames(const std::string& devRoot) {
    std::vector<std::pair<std::string, std::string>> names;
    for (const char* folder : {"serial/by-id", "serial/by-path"}) {
        std::error_code ec;
        const fs::path dir = fs::path(devRoot) / folder;
        for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
            const fs::path target = fs::read_symlink(it->path(), ec);
            if (ec) {
                ec.clear();
                continue;
            }
            names.emplace_back(it->path().string(), target.filename().string());
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> ConsoleNames(const std::string& sysRoot) {
    std::ifstream active(fs::path(sysRoot) / "class/tty/console/active");
    std::vector<std::string> names;
    std::string name;
    while (active >> name) names.push_back(name);
    return names;
}

}  // namespace

// The 8250 driver registers every legacy port whether or not a UART answers there; the
// kernel marks the ones it found with a non-zero type.
bool HasNoUart(const std::string& device, const PortListRoots& roots) {
    std::error_code ec;
    fs::path resolved = fs::canonical(device, ec);
    const std::string name = (ec ? fs::path(device) : resolved).filename().string();
    if (name.rfind("ttyS", 0) != 0) return false;
    const fs::path type = fs::path(roots.Sys) / "class/tty" / name / "type";
    return fs::exists(type, ec) && ReadLine(type) == "0";
}

std::vector<SerialPortInfo> ListSerialPorts(const PortListRoots& roots) {
    std::vector<SerialPortInfo> ports;
    const auto stable = StableNames(roots.Dev);
    const auto consoles = ConsoleNames(roots.Sys);
    std::error_code ec;
    const fs::path classDir = fs::path(roots.Sys) / "class/tty";
    for (fs::directory_iterator it(classDir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (IsVirtualTty(name)) continue;
        const fs::path entry = it->path();
        std::error_code e2;
        if (!fs::exists(entry / "device", e2)) continue;  // no hardware behind it
        if (HasNoUart(name, roots)) continue;
        SerialPortInfo info;
        info.Name = name;
        info.Path = (fs::path(roots.Dev) / name).string();
        info.Driver = LinkName(entry / "device/driver");
        if (const fs::path usb = UsbDeviceOf(entry / "device"); !usb.empty()) {
            info.UsbVendor = ReadLine(usb / "idVendor");
            info.UsbProduct = ReadLine(usb / "idProduct");
            info.Serial = ReadLine(usb / "serial");
            const std::string maker = ReadLine(usb / "manufacturer");
            const std::string product = ReadLine(usb / "product");
            info.Description = maker.empty() ? product : product.empty() ? maker
                                                                         : maker + " " + product;
        }
        for (const auto& [link, target] : stable)
            if (target == name) info.Links.push_back(link);
        info.IsConsole = std::find(consoles.begin(), consoles.end(), name) != consoles.end();
        info.Accessible = ::access(info.Path.c_str(), R_OK | W_OK) == 0;
        ports.push_back(std::move(info));
    }
    std::sort(ports.begin(), ports.end(),
              [](const SerialPortInfo& a, const SerialPortInfo& b) { return a.Name < b.Name; });
    return ports;
}

bool SamePortDevice(const std::string& a, const std::string& b) {
    if (a == b) return true;
    std::error_code e1, e2;
    const fs::path ca = fs::canonical(a, e1), cb = fs::canonical(b, e2);
    return !e1 && !e2 && ca == cb;
}

bool PortDeviceExists(const std::string& path) {
    std::error_code ec;
    return fs::exists(path, ec);
}

const char* const DefaultPortRule = "COMn is /dev/ttyS<n-1>";
const char* const PortMapExample = "/dev/ttyUSB0";

std::string PortDeviceProblem(const std::string& path, const PortListRoots& roots) {
    struct stat s {};
    if (::stat(path.c_str(), &s) != 0) return path + " does not exist";
    if (HasNoUart(path, roots)) return path + NoUartText;
    if (::access(path.c_str(), R_OK | W_OK) != 0)
        return "this user may not open " + path + " (add it to the group dialout, then log in again)";
    return "";
}

std::string PortAccessText(const SerialPortInfo& p) {
    if (p.Accessible) return PortAccessReadWrite;
    std::string group = "dialout";
    struct stat st {};
    if (::stat(p.Path.c_str(), &st) == 0)
        if (const struct group* g = ::getgrgid(st.st_gid)) group = g->gr_name;
    return "not for this user (add it to the group " + group + ")";
}

}  // namespace ps

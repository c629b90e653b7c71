// SPDX-License-Identifier: MIT
#include "link/PortList.h"

#include <algorithm>

namespace ps {

std::string FormatPortList(std::vector<SerialPortInfo> ports,
                           const std::vector<std::string>& comTargets,
                           const PortListRoots& roots) {
    std::string out;
    for (auto& p : ports) {
        for (size_t i = 0; i < comTargets.size(); ++i)
            if (!comTargets[i].empty() && SamePortDevice(comTargets[i], p.Path))
                p.MappedCom.push_back(static_cast<int>(i) + 1);
        out += p.Path;
        for (int com : p.MappedCom) out += "  COM" + std::to_string(com);
        if (p.IsConsole) out += "  (system console: never opened)";
        out += "\n";
        if (!p.Driver.empty()) out += "    driver: " + p.Driver + "\n";
        if (!p.UsbVendor.empty()) {
            out += "    usb: " + p.UsbVendor + ":" + p.UsbProduct;
            if (!p.Description.empty()) out += "  " + p.Description;
            out += "\n";
        }
        if (!p.Serial.empty()) out += "    serial: " + p.Serial + "\n";
        for (const auto& link : p.Links) out += "    link: " + link + "\n";
        if (const std::string access = PortAccessText(p); !access.empty())
            out += "    access: " + access + "\n";
    }
    if (ports.empty()) out += "no serial devices found\n";
    // COM ports that lead nowhere in the listing: simulated boards, pseudo-terminals.
    for (size_t i = 0; i < comTargets.size(); ++i) {
        const std::string& t = comTargets[i];
        if (t.empty()) continue;
        const bool listed = std::any_of(ports.begin(), ports.end(), [&](const SerialPortInfo& p) {
            return SamePortDevice(t, p.Path);
        });
        if (listed) continue;
        const char* what = t.rfind("sim:", 0) == 0 ? " (simulated board)"
                           : !PortDeviceExists(t)     ? " (no such device)"
                           : HasNoUart(t, roots)      ? NoUartText
                                                      : "";
        out += "COM" + std::to_string(i + 1) + " -> " + t + what + "\n";
    }
    return out;
}

}  // namespace ps

// SPDX-License-Identifier: MIT
#pragma once
#include <string>
#include <vector>

namespace ps {

// A serial device on this machine, as sysfs and /dev describe it (Linux) or the registry
// and SetupAPI (Windows).
struct SerialPortInfo {
    std::string Name;     // "ttyUSB0"; "COM3"
    std::string Path;     // "/dev/ttyUSB0"; "\\.\COM3"
    std::string Driver;   // "ftdi_sio", "serial8250", "cdc_acm"; the service on Windows; "" when unknown
    std::string UsbVendor, UsbProduct;  // "0403", "6001": USB ids, "" for other buses
    std::string Serial;                 // the USB serial number, when the device has one
    std::string Description;            // manufacturer and product strings, when given
    std::vector<std::string> Links;     // /dev/serial/by-id/... and by-path/... names
    bool IsConsole = false;             // the kernel's console: shown, never opened
    bool Accessible = false;            // the current user may open it for reading and writing
    std::vector<int> MappedCom;         // the COM numbers of the current settings that lead here
};

// Where the listing looks; tests point both at a tree they build.
struct PortListRoots {
    std::string Sys = "/sys";
    std::string Dev = "/dev";
};

// Every serial device with hardware behind it. Linux: ttyS* whose UART the kernel found (a
// "type" other than 0), ttyUSB*, ttyACM* and any other tty with a driver bound, sorted by
// name; walks sysfs by hand, so the core needs nothing beyond POSIX and a test can list a
// fake tree. Windows: every port of the registry's serial device map, by COM number
// (link/Win32PortList.h); `roots` is not used there.
std::vector<SerialPortInfo> ListSerialPorts(const PortListRoots& roots = {});

// The listing as `progstation-cli --list-ports` prints it, one block per device;
// `comTargets[n-1]` is what COMn leads to (a path, "sim:..." or "").
std::string FormatPortList(std::vector<SerialPortInfo> ports,
                           const std::vector<std::string>& comTargets,
                           const PortListRoots& roots = {});

// A legacy port (ttyS*) the kernel registered without finding a UART there: opening it
// fails, and nothing could answer if it did not. `device` may be a link to it.
bool HasNoUart(const std::string& device, const PortListRoots& roots = {});

// The system's part of the listing (PosixPortList.cpp, Win32PortList.cpp):
// whether two names lead to one device, whether a COM target names a device at all, and
// the "access:" line of a listed port in the system's own terms (a group on Linux; none on
// Windows, where only an open could tell).
bool SamePortDevice(const std::string& a, const std::string& b);
bool PortDeviceExists(const std::string& path);
std::string PortAccessText(const SerialPortInfo& port);

// For the hints, in the system's terms: why the device a COM number leads to cannot serve
// ("" when nothing is known against it), the rule for a COM number nothing maps, and an
// example of a device to map one to.
std::string PortDeviceProblem(const std::string& path, const PortListRoots& roots = {});
extern const char* const DefaultPortRule;  // "COMn is /dev/ttyS<n-1>"
extern const char* const PortMapExample;   // "/dev/ttyUSB0"

inline constexpr const char* PortAccessReadWrite = "read and write";

// What the listing and the hints say of such a port.
inline constexpr const char* NoUartText = " (no UART answers there: the kernel found no hardware)";

}  // namespace ps

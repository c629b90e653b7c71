// SPDX-License-Identifier: MIT
#pragma once
#include <functional>
#include <memory>
#include <string>

#include "link/SerialPort.h"

namespace ps {

// Where the COM port numbers lead.
//
// COMn is /dev/ttyS<n-1> unless COM1..COM10 is mapped elsewhere: the environment variable
// PROGSTATION_COM<n> wins over the key COM<n> of section [Ports] in PROGRAMMER.INI. A
// value is a device path ("/dev/ttyUSB0", a pseudo-terminal) or "sim:" followed by a
// simulated board and its options ("sim:avr,silent"), made by the simulation library.
struct PortMapConfig {
    // Value of key ("COM1") in section [Ports]; "" when not set.
    std::function<std::string(const std::string& key)> IniLookup;
    // Makes the in-process simulated device for the text after "sim:"; nullptr when the
    // board is unknown. Without a factory, "sim:" ports do not exist.
    using DeviceFactory = std::function<std::unique_ptr<PortDevice>(const std::string& spec)>;
    DeviceFactory SimFactory;
    // Environment lookup; unset means the process environment (getenv).
    std::function<std::string(const std::string& name)> EnvLookup;
};

inline constexpr int MappedPortCount = 10;  // COM1..COM10 can be mapped
inline constexpr char PortEnvPrefix[] = "PROGSTATION_COM";
inline constexpr char PortIniSection[] = "Ports";
inline constexpr char SimPortPrefix[] = "sim:";

// Where a mapping came from, for messages.
enum class PortSource { Default, Ini, Environment };

struct PortTarget {
    std::string Value;  // a device path or "sim:..."; "" when the number names no port
    PortSource Source = PortSource::Default;
};

PortTarget ResolvePortTarget(int portNum, const PortMapConfig& config);

// The resolver TSerialPort opens ports through. A path that does not exist, a port number
// below 1 and an unknown simulated board give nullptr ("Invalid port number (COM%d)").
PortResolver MakePortResolver(PortMapConfig config);

// "COM1 = /dev/ttyUSB0 (from PROGSTATION_COM1)", for messages and --help texts.
std::string DescribePort(int portNum, const PortMapConfig& config);

// Hints for a failed open; each "%s" is filled in order (device path, group name).
inline constexpr char HintPermissionGroup[] = "hint: %s belongs to group %s; add your user to it";
inline constexpr char HintPermission[] = "hint: no permission to open %s";
inline constexpr char HintBusy[] = "hint: %s is in use by another program";
inline constexpr char HintConsole[] =
    "hint: %s is the system console; map the COM port to the board's port "
    "([Ports] COM1=/dev/ttyUSB0 in PROGRAMMER.INI, or PROGSTATION_COM1=...)";

// A line that tells an operator what to do about a failed open, or "" when there is
// nothing useful to say: for EACCES/EPERM the group that owns the device, for EBUSY that
// another program has the port.
std::string OpenFailureHint(const std::string& devicePath, int err);

}  // namespace ps

// SPDX-License-Identifier: MIT
#pragma once
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "link/PortList.h"

namespace ps {

// A device SetupAPI files under the Ports class or the COM port interface, as far as the
// listing needs it. Texts are UTF-8.
struct ComDeviceInfo {
    std::string PortName;                // "COM3": the PortName value of its device key
    std::string InstanceId;              // "FTDIBUS\VID_0403+PID_6001+A1234567A\0000"
    std::vector<std::string> ParentIds;  // its parents' instance ids, nearest first
    std::string HardwareId;              // the first SPDRP_HARDWAREID entry
    std::string FriendlyName;            // "USB Serial Port (COM3)"
    std::string Manufacturer;            // SPDRP_MFG: "FTDI"
    std::string Service;                 // SPDRP_SERVICE: "FTSER2K", "usbser", "Serial"
};

// The listing's calls into the registry and SetupAPI. The base class makes the real calls;
// a test hands the listing its own devices.
class PortListCalls {
public:
    virtual ~PortListCalls() = default;
    // The data of every value under HKLM\HARDWARE\DEVICEMAP\SERIALCOMM ("COM1", "COM3"):
    // every serial port the system has now, whatever its driver.
    virtual std::vector<std::string> SerialCommPorts();
    virtual std::vector<ComDeviceInfo> ComDevices();
    // A REG_DWORD value under HKLM\subKey; false when the key or the value is missing.
    virtual bool ReadDword(const std::string& subKey, const std::string& name, DWORD& value);

    static std::shared_ptr<PortListCalls> Real();
};

// Every port of the serial device map, described from its device where SetupAPI has one:
// USB ids, the USB serial number, the driver's service, the maker and name; sorted by COM
// number (COM2 before COM10), names that are no COMn after them.
std::vector<SerialPortInfo> ListWin32SerialPorts(PortListCalls& calls);

// The FTDI driver holds received bytes up to its LatencyTimer (16 ms by default), which
// makes every acknowledged block a round trip of that length. The text that tells the
// operator where to lower it for the port at `path` ("\\.\COM3" or "COM3"), or "" when its
// device has no such setting or it is 1 ms already.
std::string Win32LatencyNotice(PortListCalls& calls, const std::string& path);

}  // namespace ps

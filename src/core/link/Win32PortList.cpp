// SPDX-License-Identifier: MIT
// The serial ports of a Windows machine: the registry's serial device map names them all,
// SetupAPI tells what each is.
#include "link/Win32PortList.h"

#include <cfgmgr32.h>
#include <setupapi.h>

#include <algorithm>
#include <cctype>
#include <cerrno>

#include "link/Win32PortDevice.h"

namespace ps {

namespace {

constexpr const wchar_t* SerialCommKey = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";
constexpr const char* EnumKey = "SYSTEM\\CurrentControlSet\\Enum\\";
constexpr const char* LatencyValue = "LatencyTimer";
constexpr const char* DevicePrefix = "\\\\.\\";

// The Ports (COM & LPT) setup class and the COM port interface: some virtual ports register
// only the one, most real ones both.
const GUID PortsClass = {0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
const GUID ComPortInterface = {0x86e0d1e0, 0x8089, 0x11d0, {0x9c, 0xe4, 0x08, 0x00, 0x3e, 0x30, 0x1f, 0x73}};

std::string Upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// "COM12" -> 12; 0 for a name that is no COM port.
int ComNumber(const std::string& name) {
    if (name.size() < 4 || Upper(name.substr(0, 3)) != "COM") return 0;
    int n = 0;
    for (size_t i = 3; i < name.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(name[i])) || n > 100000) return 0;
        n = n * 10 + (name[i] - '0');
    }
    return n;
}

// The four hex digits after "VID_" or "PID_" in a hardware or instance id, lower case as
// Linux shows them; "" when the id has none.
std::string UsbId(const std::string& id, const char* tag) {
    const size_t at = Upper(id).find(tag);
    if (at == std::string::npos || at + 8 > id.size()) return "";
    const std::string digits = id.substr(at + 4, 4);
    if (!std::all_of(digits.begin(), digits.end(),
                     [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); }))
        return "";
    return Lower(digits);
}

// The USB device a port hangs off is the nearest id "USB\VID_xxxx&PID_xxxx\..." that is no
// interface of a composite device (&MI_); its last part is the device's serial number
// when it has one, else a name Windows made up from the hub port, which holds '&'.
std::string UsbSerial(const ComDeviceInfo& d) {
    std::vector<std::string> ids{d.InstanceId};
    ids.insert(ids.end(), d.ParentIds.begin(), d.ParentIds.end());
    for (const std::string& id : ids) {
        const std::string up = Upper(id);
        if (up.rfind("USB\\", 0) != 0 || up.find("&MI_") != std::string::npos) continue;
        const size_t last = id.rfind('\\');
        if (last == 3) continue;
        const std::string serial = id.substr(last + 1);
        return serial.find('&') == std::string::npos ? serial : "";
    }
    return "";
}

// "USB Serial Port (COM3)" -> "USB Serial Port": the port is named on its own line.
std::string WithoutPortName(const std::string& friendly, const std::string& port) {
    const std::string tail = " (" + port + ")";
    if (friendly.size() > tail.size() &&
        Upper(friendly.substr(friendly.size() - tail.size())) == Upper(tail))
        return friendly.substr(0, friendly.size() - tail.size());
    return friendly;
}

const ComDeviceInfo* DeviceOf(const std::vector<ComDeviceInfo>& devices, const std::string& port) {
    for (const ComDeviceInfo& d : devices)
        if (!d.PortName.empty() && Upper(d.PortName) == Upper(port)) return &d;
    return nullptr;
}

SerialPortInfo Describe(const std::string& port, const ComDeviceInfo* d) {
    SerialPortInfo info;
    info.Name = port;
    info.Path = Win32DevicePath(DevicePrefix + port);
    if (d) {
        info.Driver = d->Service;
        // The port's own ids name the adapter's chip; a port a bus driver made (FTDIBUS)
        // has them only in its parent's.
        std::vector<std::string> ids{d->HardwareId, d->InstanceId};
        ids.insert(ids.end(), d->ParentIds.begin(), d->ParentIds.end());
        for (const std::string& id : ids) {
            info.UsbVendor = UsbId(id, "VID_");
            info.UsbProduct = UsbId(id, "PID_");
            if (!info.UsbVendor.empty() && !info.UsbProduct.empty()) break;
            info.UsbVendor.clear();
            info.UsbProduct.clear();
        }
        if (!info.UsbVendor.empty()) info.Serial = UsbSerial(*d);
        const std::string name = WithoutPortName(d->FriendlyName, port);
        info.Description = d->Manufacturer.empty() ? name
                           : name.empty()          ? d->Manufacturer
                                                   : d->Manufacturer + " " + name;
    }
    return info;
}

// The UTF-8 text of a registry string of at most `size` bytes in `buffer`.
std::string RegText(const wchar_t* buffer, DWORD bytes) {
    std::wstring w(buffer, bytes / sizeof(wchar_t));
    while (!w.empty() && w.back() == L'\0') w.pop_back();
    return ps_Utf8(w.c_str());
}

std::string DeviceId(DEVINST node) {
    wchar_t id[MAX_DEVICE_ID_LEN + 1] = {};
    if (CM_Get_Device_IDW(node, id, MAX_DEVICE_ID_LEN, 0) != CR_SUCCESS) return "";
    return ps_Utf8(id);
}

std::string DeviceText(HDEVINFO set, SP_DEVINFO_DATA& data, DWORD property) {
    wchar_t buffer[1024] = {};
    DWORD type = 0;
    if (!SetupDiGetDeviceRegistryPropertyW(set, &data, property, &type,
                                           reinterpret_cast<BYTE*>(buffer), sizeof buffer - 2,
                                           nullptr))
        return "";
    return ps_Utf8(buffer);  // a list's first entry ends at its first NUL
}

void CollectDevices(HDEVINFO set, std::vector<ComDeviceInfo>& out) {
    if (set == INVALID_HANDLE_VALUE) return;
    SP_DEVINFO_DATA data{};
    data.cbSize = sizeof data;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &data); ++i) {
        ComDeviceInfo d;
        d.InstanceId = DeviceId(data.DevInst);
        if (std::any_of(out.begin(), out.end(),
                        [&](const ComDeviceInfo& o) { return o.InstanceId == d.InstanceId; }))
            continue;
        HKEY key = SetupDiOpenDevRegKey(set, &data, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_QUERY_VALUE);
        if (key != INVALID_HANDLE_VALUE) {
            wchar_t name[256] = {};
            DWORD bytes = sizeof name - 2;
            if (RegGetValueW(key, nullptr, L"PortName", RRF_RT_REG_SZ, nullptr, name, &bytes) ==
                ERROR_SUCCESS)
                d.PortName = RegText(name, bytes);
            RegCloseKey(key);
        }
        d.HardwareId = DeviceText(set, data, SPDRP_HARDWAREID);
        d.FriendlyName = DeviceText(set, data, SPDRP_FRIENDLYNAME);
        d.Manufacturer = DeviceText(set, data, SPDRP_MFG);
        d.Service = DeviceText(set, data, SPDRP_SERVICE);
        DEVINST node = data.DevInst, parent = 0;
        for (int depth = 0; depth < 4 && CM_Get_Parent(&parent, node, 0) == CR_SUCCESS; ++depth) {
            d.ParentIds.push_back(DeviceId(parent));
            node = parent;
        }
        out.push_back(std::move(d));
    }
    SetupDiDestroyDeviceInfoList(set);
}

}  // namespace

std::vector<std::string> PortListCalls::SerialCommPorts() {
    std::vector<std::string> ports;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, SerialCommKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return ports;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256], data[256] = {};
        DWORD nameLength = 256, bytes = sizeof data - 2, type = 0;
        const LONG r = RegEnumValueW(key, i, name, &nameLength, nullptr, &type,
                                     reinterpret_cast<BYTE*>(data), &bytes);
        if (r == ERROR_NO_MORE_ITEMS) break;
        if (r == ERROR_SUCCESS && type == REG_SZ) ports.push_back(RegText(data, bytes));
    }
    RegCloseKey(key);
    return ports;
}

std::vector<ComDeviceInfo> PortListCalls::ComDevices() {
    std::vector<ComDeviceInfo> devices;
    CollectDevices(SetupDiGetClassDevsW(&PortsClass, nullptr, nullptr, DIGCF_PRESENT), devices);
    CollectDevices(SetupDiGetClassDevsW(&ComPortInterface, nullptr, nullptr,
                                        DIGCF_PRESENT | DIGCF_DEVICEINTERFACE),
                   devices);
    return devices;
}

bool PortListCalls::ReadDword(const std::string& subKey, const std::string& name, DWORD& value) {
    DWORD bytes = sizeof value;
    return RegGetValueW(HKEY_LOCAL_MACHINE, ps_Wide(subKey.c_str()).c_str(), ps_Wide(name.c_str()).c_str(),
                        RRF_RT_REG_DWORD, nullptr, &value, &bytes) == ERROR_SUCCESS;
}

std::shared_ptr<PortListCalls> PortListCalls::Real() {
    static const std::shared_ptr<PortListCalls> real = std::make_shared<PortListCalls>();
    return real;
}

std::vector<SerialPortInfo> ListWin32SerialPorts(PortListCalls& calls) {
    std::vector<std::string> names = calls.SerialCommPorts();
    auto before = [](const std::string& a, const std::string& b) {
        const int na = ComNumber(a), nb = ComNumber(b);
        if ((na == 0) != (nb == 0)) return na != 0;
        return na != nb ? na < nb : Upper(a) < Upper(b);
    };
    std::sort(names.begin(), names.end(), before);
    names.erase(std::unique(names.begin(), names.end(),
                            [](const std::string& a, const std::string& b) { return Upper(a) == Upper(b); }),
                names.end());
    std::vector<SerialPortInfo> ports;
    if (names.empty()) return ports;
    const std::vector<ComDeviceInfo> devices = calls.ComDevices();
    for (const std::string& name : names)
        if (!name.empty()) ports.push_back(Describe(name, DeviceOf(devices, name)));
    return ports;
}

std::string Win32LatencyNotice(PortListCalls& calls, const std::string& path) {
    std::string port = Win32DevicePath(path);
    if (port.rfind(DevicePrefix, 0) == 0) port = port.substr(4);
    const std::vector<ComDeviceInfo> devices = calls.ComDevices();
    const ComDeviceInfo* d = DeviceOf(devices, port);
    DWORD ms = 0;
    if (!d || d->InstanceId.empty() ||
        !calls.ReadDword(EnumKey + d->InstanceId + "\\Device Parameters", LatencyValue, ms) ||
        ms <= 1)
        return "";
    return port + " holds received bytes up to " + std::to_string(ms) +
           " ms (the FTDI driver's LatencyTimer), so every answer may come that much late; "
           "set it to 1 ms in Device Manager: the port's Properties, Port Settings, Advanced, "
           "Latency Timer";
}

std::vector<SerialPortInfo> ListSerialPorts(const PortListRoots&) {
    return ListWin32SerialPorts(*PortListCalls::Real());
}

// A COM port is one device under any of its names: "COM3", "com3", "\\.\COM3".
bool SamePortDevice(const std::string& a, const std::string& b) {
    return Upper(Win32DevicePath(a)) == Upper(Win32DevicePath(b));
}

const char* const DefaultPortRule = "COMn is \\\\.\\COMn";
const char* const PortMapExample = "COM7";

std::string PortDeviceProblem(const std::string& path, const PortListRoots&) {
    return PortDeviceExists(path) ? "" : path + " does not exist";
}

bool PortDeviceExists(const std::string& path) {
    const std::string device = Win32DevicePath(path);
    if (device.rfind(DevicePrefix, 0) == 0) return !Win32DeviceMissing(device);
    return GetFileAttributesW(ps_Wide(device.c_str()).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Windows has no group to join for a port, and tells whether one is free only to an open.
// A listing opens nothing: an open raises DTR and RTS on most drivers (a board on the line
// may reset or enter its boot mode), and on a Bluetooth port it tries to connect, which
// can take many seconds.
std::string PortAccessText(const SerialPortInfo&) {
    return "";
}

// Windows registers only the ports it found hardware for.
bool HasNoUart(const std::string&, const PortListRoots&) {
    return false;
}

}  // namespace ps

// SPDX-License-Identifier: MIT
// The Windows port listing over fake registries and devices: what `--list-ports` prints
// for them, and the latency notice a port's open gives.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "link/Win32PortDevice.h"
#include "link/Win32PortList.h"

namespace ps::test {
namespace {

// A machine's serial device map, its devices and the FTDI driver's settings (HKLM sub key
// -> LatencyTimer).
class FakePorts : public PortListCalls {
public:
    std::vector<std::string> SerialComm;
    std::vector<ComDeviceInfo> Devices;
    std::map<std::string, DWORD> Latency;

    std::vector<std::string> SerialCommPorts() override { return SerialComm; }
    std::vector<ComDeviceInfo> ComDevices() override { return Devices; }
    bool ReadDword(const std::string& key, const std::string& name, DWORD& value) override {
        const auto it = Latency.find(key);
        if (name != "LatencyTimer" || it == Latency.end()) return false;
        value = it->second;
        return true;
    }
};

// Just enough of a COM port's driver for an open to succeed.
class OpenableComm : public CommCalls {
public:
    HANDLE Open(const std::wstring&) override { return reinterpret_cast<HANDLE>(0x42); }
    BOOL Close(HANDLE) override { return TRUE; }
    BOOL GetState(HANDLE, DCB& dcb) override {
        dcb = {};
        return TRUE;
    }
    BOOL SetMask(HANDLE, DWORD) override { return TRUE; }
    BOOL SetTimeouts(HANDLE, const COMMTIMEOUTS&) override { return TRUE; }
};

const char* const FtdiEnum =
    "SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS\\VID_0403+PID_6001+A1234567A\\0000\\Device Parameters";

const ComDeviceInfo Uart{"COM1", "ACPI\\PNP0501\\0", {"ACPI\\PNP0A08\\0"}, "ACPI\\PNP0501",
                         "Communications Port (COM1)", "(Standard port types)", "Serial"};
const ComDeviceInfo Ftdi{"COM10",
                         "FTDIBUS\\VID_0403+PID_6001+A1234567A\\0000",
                         {"USB\\VID_0403&PID_6001\\A1234567", "USB\\ROOT_HUB30\\4&1B2C3D4E&0&0"},
                         "FTDIBUS\\COMPORT&VID_0403&PID_6001",
                         "USB Serial Port (COM10)",
                         "FTDI",
                         "FTSER2K"};
// An interface of a composite device: the serial number is its parent's.
const ComDeviceInfo Acm{"COM2",
                        "USB\\VID_2E8A&PID_000A&MI_00\\6&2C7B9E3&0&0000",
                        {"USB\\VID_2E8A&PID_000A\\E660583883724A32"},
                        "USB\\VID_2E8A&PID_000A&REV_0100&MI_00",
                        "USB Serial Device (COM2)",
                        "Microsoft",
                        "usbser"};
// An adapter without a serial number: Windows names its instance after the hub port.
const ComDeviceInfo NoSerial{"COM4", "USB\\VID_1A86&PID_7523\\5&21AD5D2&0&3", {}, "USB\\VID_1A86&PID_7523&REV_0264",
                             "USB-SERIAL CH340 (COM4)", "wch.cn", "CH341SER_A64"};

TEST(Win32PortList, ListsEveryPortOfTheDeviceMapAsTheRegistryDescribesIt) {
    struct Case {
        const char* what;
        std::vector<std::string> serialComm;
        std::vector<ComDeviceInfo> devices;
        std::map<std::string, DWORD> latency;
        std::vector<std::string> comTargets;
        std::string listing;
        std::string noticePort, notice;  // the notice an open of noticePort gives
    } cases[] = {
        {"plain UART", {"COM1"}, {Uart}, {}, {"", "", "", ""},
         "\\\\.\\COM1\n"
         "    driver: Serial\n"
         ,
         "COM1", ""},
        {"FTDI with serial and a 16 ms latency, numbered past a CDC ACM port",
         {"COM10", "COM2"}, {Ftdi, Acm}, {{FtdiEnum, 16}}, {"COM10", "\\\\.\\com2", "sim:avr", ""},
         "\\\\.\\COM2  COM2\n"
         "    driver: usbser\n"
         "    usb: 2e8a:000a  Microsoft USB Serial Device\n"
         "    serial: E660583883724A32\n"
         
         "\\\\.\\COM10  COM1\n"
         "    driver: FTSER2K\n"
         "    usb: 0403:6001  FTDI USB Serial Port\n"
         "    serial: A1234567\n"
         
         "COM3 -> sim:avr (simulated board)\n",
         "\\\\.\\COM10",
         "COM10 holds received bytes up to 16 ms (the FTDI driver's LatencyTimer), so every "
         "answer may come that much late; set it to 1 ms in Device Manager: the port's "
         "Properties, Port Settings, Advanced, Latency Timer"},
        {"FTDI at 1 ms already", {"COM10"}, {Ftdi}, {{FtdiEnum, 1}}, {},
         "\\\\.\\COM10\n"
         "    driver: FTSER2K\n"
         "    usb: 0403:6001  FTDI USB Serial Port\n"
         "    serial: A1234567\n"
         ,
         "COM10", ""},
        {"ports without a device of their own, and no serial number",
         {"COM7", "COM4", "COM3"}, {NoSerial}, {}, {},
         "\\\\.\\COM3\n"
         
         "\\\\.\\COM4\n"
         "    driver: CH341SER_A64\n"
         "    usb: 1a86:7523  wch.cn USB-SERIAL CH340\n"
         
         "\\\\.\\COM7\n"
         ,
         "COM4", ""},
        {"empty registry", {}, {Uart}, {}, {"", "sim:intel"},
         "no serial devices found\n"
         "COM2 -> sim:intel (simulated board)\n",
         "COM1", ""},
    };
    for (const Case& c : cases) {
        auto ports = std::make_shared<FakePorts>();
        ports->SerialComm = c.serialComm;
        ports->Devices = c.devices;
        ports->Latency = c.latency;
        EXPECT_EQ(FormatPortList(ListWin32SerialPorts(*ports), c.comTargets), c.listing) << c.what;
        // The notice reaches the port component as the POSIX device's does, once per open.
        Win32PortDevice device(c.noticePort, std::make_shared<OpenableComm>(), ports);
        ASSERT_EQ(device.Open(), 0) << c.what;
        EXPECT_EQ(device.TakeNotice(), c.notice) << c.what;
        EXPECT_EQ(device.TakeNotice(), "") << c.what;
    }
}

}  // namespace
}  // namespace ps::test

// SPDX-License-Identifier: MIT
// The port listing against a sysfs and /dev the test builds: which ttys count as serial
// ports, what is said of each, and which COM port leads where.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "link/PortList.h"
#include "projects/TempDir.h"

namespace ps {
namespace {

namespace fs = std::filesystem;

class FakeMachine {
public:
    FakeMachine() {
        roots.Sys = dir.Path() + "/sys";
        roots.Dev = dir.Path() + "/dev";
        fs::create_directories(roots.Sys + "/class/tty");
        fs::create_directories(roots.Dev + "/serial/by-id");
        fs::create_directories(roots.Sys + "/bus/drivers");
    }
    // A tty with a device folder under `devicePath` (relative to sys/devices) bound to
    // `driver`; `type` is written for legacy UARTs.
    void Tty(const std::string& name, const std::string& devicePath, const std::string& driver,
             const std::string& type = "") {
        const fs::path device = fs::path(roots.Sys) / "devices" / devicePath;
        fs::create_directories(device);
        fs::create_directories(fs::path(roots.Sys) / "bus/drivers" / driver);
        fs::create_directory_symlink(fs::path(roots.Sys) / "bus/drivers" / driver, device / "driver");
        const fs::path entry = fs::path(roots.Sys) / "class/tty" / name;
        fs::create_directories(entry);
        fs::create_directory_symlink(device, entry / "device");
        if (!type.empty()) Write(entry / "type", type);
        Write(fs::path(roots.Dev) / name, "");
    }
    void VirtualTty(const std::string& name) {
        fs::create_directories(fs::path(roots.Sys) / "class/tty" / name);
    }
    static void Write(const fs::path& file, const std::string& text) {
        std::ofstream(file) << text << "\n";
    }
    test::TempDir dir;
    PortListRoots roots;
};

TEST(PortList, FindsHardwarePortsAndDescribesThem) {
    FakeMachine m;
    m.Tty("ttyS0", "pnp0/00:01", "serial", "4");  // a UART the kernel found
    m.Tty("ttyS1", "platform/serial8250/tty/ttyS1", "serial8250", "0");  // nothing there
    const std::string usb = "pci0000:00/usb1/1-1";
    m.Tty("ttyUSB0", usb + "/1-1:1.0/ttyUSB0", "ftdi_sio");
    FakeMachine::Write(fs::path(m.roots.Sys) / "devices" / usb / "idVendor", "0403");
    FakeMachine::Write(fs::path(m.roots.Sys) / "devices" / usb / "idProduct", "6001");
    FakeMachine::Write(fs::path(m.roots.Sys) / "devices" / usb / "serial", "A1234567");
    FakeMachine::Write(fs::path(m.roots.Sys) / "devices" / usb / "manufacturer", "Maker");
    FakeMachine::Write(fs::path(m.roots.Sys) / "devices" / usb / "product", "USB UART");
    fs::create_symlink("../../ttyUSB0", m.roots.Dev + "/serial/by-id/usb-Maker_UART_A1234567");
    m.Tty("ttyACM0", "pci0000:00/usb1/1-2/1-2:1.0", "cdc_acm");
    m.VirtualTty("tty1");
    m.VirtualTty("console");
    m.VirtualTty("ttyS2");  // no device behind it
    FakeMachine::Write(fs::path(m.roots.Sys) / "class/tty/console/active", "tty0 ttyS0");

    const auto ports = ListSerialPorts(m.roots);
    ASSERT_EQ(3u, ports.size());
    EXPECT_EQ("ttyACM0", ports[0].Name);
    EXPECT_EQ("cdc_acm", ports[0].Driver);
    EXPECT_EQ("ttyS0", ports[1].Name);
    EXPECT_TRUE(ports[1].IsConsole);
    EXPECT_EQ("", ports[1].UsbVendor);
    const SerialPortInfo& ftdi = ports[2];
    EXPECT_EQ(m.roots.Dev + "/ttyUSB0", ftdi.Path);
    EXPECT_EQ("ftdi_sio", ftdi.Driver);
    EXPECT_EQ("0403", ftdi.UsbVendor);
    EXPECT_EQ("6001", ftdi.UsbProduct);
    EXPECT_EQ("A1234567", ftdi.Serial);
    EXPECT_EQ("Maker USB UART", ftdi.Description);
    ASSERT_EQ(1u, ftdi.Links.size());
    EXPECT_EQ(m.roots.Dev + "/serial/by-id/usb-Maker_UART_A1234567", ftdi.Links[0]);
    EXPECT_FALSE(ftdi.IsConsole);

    // COM1 by its stable name and COM2 by the plain path lead to the same adapter; COM3 is
    // a simulated board, COM4 a device that is not there and COM5 a legacy port without a
    // UART.
    const std::string text = FormatPortList(
        ports,
        {m.roots.Dev + "/serial/by-id/usb-Maker_UART_A1234567", m.roots.Dev + "/ttyUSB0",
         "sim:avr", m.roots.Dev + "/ttyS7", m.roots.Dev + "/ttyS1"},
        m.roots);
    EXPECT_NE(std::string::npos, text.find("COM5 -> " + m.roots.Dev + "/ttyS1" + NoUartText))
        << text;
    fs::create_symlink("../ttyS1", m.roots.Dev + "/serial/uart");
    const struct {
        std::string Device;
        bool NoUart;
    } uarts[] = {{m.roots.Dev + "/ttyS1", true},       {m.roots.Dev + "/serial/uart", true},
                 {m.roots.Dev + "/ttyS0", false},      {m.roots.Dev + "/ttyUSB0", false},
                 {m.roots.Dev + "/ttyS7", false}};
    for (const auto& u : uarts) EXPECT_EQ(HasNoUart(u.Device, m.roots), u.NoUart) << u.Device;
    EXPECT_NE(std::string::npos, text.find(m.roots.Dev + "/ttyUSB0  COM1  COM2\n")) << text;
    EXPECT_NE(std::string::npos, text.find("(system console: never opened)")) << text;
    EXPECT_NE(std::string::npos, text.find("    usb: 0403:6001  Maker USB UART\n")) << text;
    EXPECT_NE(std::string::npos, text.find("    serial: A1234567\n")) << text;
    EXPECT_NE(std::string::npos, text.find("COM3 -> sim:avr (simulated board)\n")) << text;
    EXPECT_NE(std::string::npos, text.find("COM4 -> " + m.roots.Dev + "/ttyS7 (no such device)"))
        << text;
}

TEST(PortList, AMachineWithoutSerialPortsSaysSo) {
    FakeMachine m;
    m.VirtualTty("tty0");
    EXPECT_TRUE(ListSerialPorts(m.roots).empty());
    EXPECT_EQ("no serial devices found\n", FormatPortList({}, {"", "", "", ""}));
    // A missing sysfs is no error either.
    EXPECT_TRUE(ListSerialPorts({"/nonexistent/sys", "/nonexistent/dev"}).empty());
}

}  // namespace
}  // namespace ps

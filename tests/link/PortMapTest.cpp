// SPDX-License-Identifier: MIT
#include <grp.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <map>

#include "link/FakePortDevice.h"
#include "link/PortMap.h"
#include "link/PseudoTerminal.h"

namespace ps {
namespace {

// A map config over fixed tables instead of the process environment and a real INI file.
struct MapFixture {
    std::map<std::string, std::string> env;
    std::map<std::string, std::string> ini;
    std::vector<std::string> simSpecs;
    bool simKnown = true;

    PortMapConfig Config(bool withSim = true) {
        PortMapConfig c;
        c.EnvLookup = [this](const std::string& k) { return env.count(k) ? env[k] : ""; };
        c.IniLookup = [this](const std::string& k) { return ini.count(k) ? ini[k] : ""; };
        if (withSim) {
            c.SimFactory = [this](const std::string& spec) -> std::unique_ptr<PortDevice> {
                simSpecs.push_back(spec);
                if (!simKnown) return nullptr;
                return std::make_unique<test::FakePortDevice>(
                    std::make_shared<test::FakeDeviceState>(), "sim:" + spec);
            };
        }
        return c;
    }
};

TEST(PortMap, EnvironmentBeatsIniBeatsDefault) {
    MapFixture m;
    m.ini["COM1"] = "/dev/ttyUSB0";
    m.ini["COM2"] = "  /dev/ttyACM0 \r";
    m.env["PROGSTATION_COM1"] = "/dev/pts/7";
    m.env["PROGSTATION_COM3"] = "";               // empty: not a mapping
    m.env["PROGSTATION_COM11"] = "/dev/ttyUSB9";  // beyond COM10: not mappable
    m.ini["COM10"] = "sim:generic";
    PortMapConfig c = m.Config();

    struct Case {
        int port;
        std::string value;
        PortSource source;
    } cases[] = {{1, "/dev/pts/7", PortSource::Environment},
                 {2, "/dev/ttyACM0", PortSource::Ini},
                 {3, "/dev/ttyS2", PortSource::Default},
                 {10, "sim:generic", PortSource::Ini},
                 {11, "/dev/ttyS10", PortSource::Default},
                 {0, "", PortSource::Default},
                 {-1, "", PortSource::Default}};
    for (const Case& k : cases) {
        PortTarget t = ResolvePortTarget(k.port, c);
        EXPECT_EQ(t.Value, k.value) << k.port;
        EXPECT_EQ(t.Source, k.source) << k.port;
    }

    EXPECT_EQ(DescribePort(1, c), "COM1 = /dev/pts/7 (from PROGSTATION_COM1)");
    EXPECT_EQ(DescribePort(2, c), "COM2 = /dev/ttyACM0 (from PROGRAMMER.INI [Ports] COM2)");
    EXPECT_EQ(DescribePort(4, c), "COM4 = /dev/ttyS3 (default)");
    EXPECT_EQ(DescribePort(0, c), "COM0 (no such port)");
}

TEST(PortMap, ProcessEnvironmentIsTheDefaultLookup) {
    ::setenv("PROGSTATION_COM9", "/dev/pts/42", 1);
    PortMapConfig c;
    PortTarget t = ResolvePortTarget(9, c);
    ::unsetenv("PROGSTATION_COM9");
    EXPECT_EQ(t.Value, "/dev/pts/42");
    EXPECT_EQ(t.Source, PortSource::Environment);
    EXPECT_EQ(ResolvePortTarget(9, c).Value, "/dev/ttyS8");
}

TEST(PortMap, SimulatedBoardsGoThroughTheFactory) {
    MapFixture m;
    m.ini["COM1"] = "sim:avr,proc=6,silent";
    m.env["PROGSTATION_COM2"] = "sim:generic";
    PortResolver r = MakePortResolver(m.Config());
    auto dev = r(1);
    ASSERT_NE(dev, nullptr);
    EXPECT_EQ(dev->Name(), "sim:avr,proc=6,silent");
    EXPECT_EQ(m.simSpecs, (std::vector<std::string>{"avr,proc=6,silent"}));

    m.simKnown = false;  // an unknown board is a port that does not exist
    EXPECT_EQ(r(2), nullptr);

    // Without the simulation library, "sim:" ports do not exist.
    PortResolver bare = MakePortResolver(m.Config(false));
    EXPECT_EQ(bare(1), nullptr);

    // Through the port component: the failure names the port.
    TSerialPort port(bare);
    port.SetPortNum(1);
    try {
        port.Open();
        ADD_FAILURE() << "opened a simulated port without a factory";
    } catch (const ESerialPortError& e) {
        EXPECT_EQ(e.what(), FormatPortMessage(MsgInvalidPortNumber, 1));
    }
}

TEST(PortMap, PathsThatDoNotExistAreInvalidPorts) {
    MapFixture m;
    m.env["PROGSTATION_COM3"] = "/nonexistent-dir/ttyUSB0";
    PortResolver r = MakePortResolver(m.Config());
    EXPECT_EQ(r(3), nullptr);
    EXPECT_EQ(r(0), nullptr);

    TSerialPort port(r);
    port.SetPortNum(3);
    try {
        port.Open();
        ADD_FAILURE();
    } catch (const ESerialPortError& e) {
        EXPECT_STREQ(e.what(), "Invalid port number (COM3)");
    }
    EXPECT_EQ(port.LastOpenErrno(), ENOENT);
}

TEST(PortMap, MappedPseudoTerminalOpensAsThePort) {
    test::PseudoTerminal pty;
    ASSERT_TRUE(pty.Ok());
    MapFixture m;
    m.ini["COM2"] = pty.SlavePath();
    TSerialPort port(MakePortResolver(m.Config()));
    port.SetPortNum(2);
    port.SetFlowControl(fcNone);
    port.Open();
    EXPECT_EQ(port.DeviceName(), pty.SlavePath());
    EXPECT_TRUE(port.WriteChar(0x73));
    EXPECT_EQ(pty.Receive(1), std::vector<uint8_t>{0x73});
}

std::string Filled(std::string format, const std::string& a, const std::string& b = "") {
    size_t at = format.find("%s");
    format.replace(at, 2, a);
    at = format.find("%s", at + a.size());
    if (at != std::string::npos) format.replace(at, 2, b);
    return format;
}

TEST(PortMap, OpenFailureHints) {
    char path[] = "/tmp/ps-hint-XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    ::close(fd);
    struct stat st {};
    ASSERT_EQ(::stat(path, &st), 0);
    struct group* g = getgrgid(st.st_gid);
    std::string group = g != nullptr ? g->gr_name : std::to_string(st.st_gid);

    const std::string p = path;
    EXPECT_EQ(OpenFailureHint(p, EACCES), Filled(HintPermissionGroup, p, group));
    EXPECT_NE(OpenFailureHint(p, EACCES).find(" " + group + ";"), std::string::npos);
    EXPECT_EQ(OpenFailureHint(p, EPERM), OpenFailureHint(p, EACCES));
    EXPECT_EQ(OpenFailureHint(p, EBUSY), Filled(HintBusy, p));
    EXPECT_EQ(OpenFailureHint(p, ENOENT), "");
    EXPECT_EQ(OpenFailureHint(p, EIO), "");
    ::unlink(path);
    EXPECT_EQ(OpenFailureHint(p, EACCES), Filled(HintPermission, p));
}

}  // namespace
}  // namespace ps

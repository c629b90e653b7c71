// SPDX-License-Identifier: MIT
// USB serial adapters as a production line has them: the low-latency request at every open,
// the hint when an adapter keeps its long timer, stable /dev/serial names followed at every
// open, and the opt-in wait for an adapter that is being plugged back in.
#include <gtest/gtest.h>
#include <linux/serial.h>
#include <poll.h>

#include <filesystem>
#include <fstream>

#include "run/ExitStatus.h"
#include "run/Station.h"
#include "link/FakeTty.h"
#include "link/PortMap.h"
#include "link/PosixPortDevice.h"
#include "link/PseudoTerminal.h"
#include "link/SerialPort.h"
#include "support/StationHarness.h"

namespace ps {
namespace {

namespace fs = std::filesystem;

// A driver that knows the serial-info requests (as the USB serial drivers do), or refuses
// them (as a pseudo-terminal does).
class SerialInfoTty : public test::FakeTty {
public:
    bool Knows = true;
    int Flags = 0;           // what the driver holds
    std::vector<int> Asked;  // the flags of every TIOCSSERIAL
    int Ioctl(int fd, unsigned long request, void* arg) override {
        if (request == TIOCGSERIAL || request == TIOCSSERIAL) {
            if (!Knows) {
                errno = ENOTTY;
                return -1;
            }
            auto* serial = static_cast<serial_struct*>(arg);
            if (request == TIOCGSERIAL) {
                serial->flags = Flags;
            } else {
                Asked.push_back(serial->flags);
                Flags = serial->flags;
            }
            return 0;
        }
        return FakeTty::Ioctl(fd, request, arg);
    }
};

TEST(UsbAdapter, EveryOpenAsksForLowLatencyAndARefusalOnlyLeadsToAHint) {
    pstest::TempDir sys;
    test::PseudoTerminal pty;
    ASSERT_TRUE(pty.Ok());
    const std::string name = pty.SlavePath().substr(pty.SlavePath().rfind('/') + 1);
    const fs::path timer = fs::path(sys.Path()) / "class/tty" / name / "device/latency_timer";
    fs::create_directories(timer.parent_path());
    struct Case {
        bool DriverKnows;
        int TimerMs;  // 0: the adapter has no timer
        bool Hint;
    } cases[] = {{true, 16, false}, {false, 16, true}, {false, 1, false}, {false, 0, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.DriverKnows) + " " + std::to_string(c.TimerMs));
        fs::remove(timer);
        if (c.TimerMs > 0) std::ofstream(timer) << c.TimerMs << "\n";
        auto tty = std::make_shared<SerialInfoTty>();
        tty->Knows = c.DriverKnows;
        PosixPortDevice device(pty.SlavePath(), tty);
        device.SetSysRoot(sys.Path());
        ASSERT_EQ(0, device.Open());  // never a failed open for this
        if (c.DriverKnows) {
            ASSERT_EQ(1u, tty->Asked.size());
            EXPECT_TRUE(tty->Asked[0] & ASYNC_LOW_LATENCY);
        }
        const std::string notice = device.TakeNotice();
        EXPECT_EQ(c.Hint, !notice.empty()) << notice;
        if (c.Hint) {
            EXPECT_NE(std::string::npos, notice.find("up to 16 ms")) << notice;
            EXPECT_NE(std::string::npos, notice.find("/sys/bus/usb-serial/devices/" + name +
                                                     "/latency_timer"))
                << notice;
        }
        EXPECT_EQ("", device.TakeNotice());  // said once
        device.Close();
    }
    // On the real pseudo-terminal the request is refused and the open goes on.
    PosixPortDevice plain(pty.SlavePath());
    EXPECT_EQ(0, plain.Open());
}

TEST(UsbAdapter, AStableNameIsFollowedAtEveryOpen) {
    pstest::TempDir dir;
    test::PseudoTerminal first, second;
    ASSERT_TRUE(first.Ok() && second.Ok());
    const std::string link = dir.File("usb-Maker_UART_A1234567-if00-port0");
    fs::create_symlink(first.SlavePath(), link);
    PortMapConfig config;
    config.IniLookup = [&](const std::string& key) { return key == "COM1" ? link : ""; };
    TSerialPort port(MakePortResolver(config));
    port.SetPortNum(1);
    auto sendAndSee = [&](test::PseudoTerminal& expected) {
        port.Open();
        const uint8_t byte = 0x5A;
        port.WriteBuf(&byte, 1);
        pollfd p{expected.Master(), POLLIN, 0};
        const bool arrived = poll(&p, 1, 2000) == 1;
        port.Close();
        return arrived;
    };
    EXPECT_TRUE(sendAndSee(first));
    // The board is swapped; its adapter comes back as another device under the same name.
    fs::remove(link);
    fs::create_symlink(second.SlavePath(), link);
    EXPECT_TRUE(sendAndSee(second));
}

TEST(UsbAdapter, WaitingForAMissingPortEndsWithItsDeviceWithStopOrAtTheLimit) {
    struct Case {
        int64_t WaitMs;
        int64_t AppearsAtMs;  // -1 never
        int64_t StopAtMs;     // -1 never
        int Exit;
    } cases[] = {
        {0, 300, -1, ExitComPort},       // without the option: fails at once
        {5000, 300, -1, ExitSuccess},    // appears while waited for
        {5000, -1, 1000, ExitBreak},     // STOP ends the wait
        {2000, -1, -1, ExitComPort},     // never appears
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.WaitMs) + "/" + std::to_string(c.AppearsAtMs));
        std::shared_ptr<sim::Wire> wire;
        pstest::StationHarness* self = nullptr;
        int looks = 0;
        pstest::StationHarness h([&](int port) -> std::unique_ptr<PortDevice> {
            ++looks;
            if (port != 1 || c.AppearsAtMs < 0 || self->clock.NowMs() < c.AppearsAtMs)
                return nullptr;  // the device is not there (yet)
            std::string error;
            if (!wire)
                wire = std::make_shared<sim::Wire>(self->clock, sim::MakeBoard("generic", error),
                                                   "sim:generic");
            return std::make_unique<sim::SimPortDevice>(wire);
        });
        self = &h;
        h.StepFile({"/SINHRO", "/AUTOCONTINUE"});
        h.st.WaitPortMs = c.WaitMs;
        if (c.StopAtMs >= 0) h.view.AtTime(c.StopAtMs, [&] { StopBtnClick(h.st); });
        EXPECT_EQ(c.Exit, h.Run()) << h.view.Dump();
        if (c.WaitMs > 0) {
            EXPECT_TRUE(h.view.SawStatus("waiting for the port of COM1...")) << h.view.Dump();
            // Looked for no faster than every 100 ms.
            EXPECT_LE(looks, h.clock.NowMs() / 100 + 2);
        }
    }
}

}  // namespace
}  // namespace ps

// SPDX-License-Identifier: MIT
#pragma once
// A station under test: virtual clock, recording view, and COM1 wired in-process to a board
// (or to any device a resolver makes). Every run is bounded: see support/RunGuard.h.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "run/ExitStatus.h"
#include "app/RunController.h"
#include "run/Station.h"
#include "link/Crc32.h"
#include "sim/Board.h"
#include "sim/RecordingView.h"
#include "sim/SimPortDevice.h"
#include "sim/VirtualClock.h"
#include "sim/Wire.h"
#include "support/RunGuard.h"

namespace pstest {

// A folder of its own for one test, removed afterwards.
class TempDir {
public:
    TempDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "progstation-test-XXXXXX").string();
        path_ = mkdtemp(pattern.data());
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }
    void Write(const std::string& name, const std::string& content) const {
        std::ofstream(File(name), std::ios::binary) << content;
    }

private:
    std::string path_;
};

// Makes a folder the current one for its lifetime. A station reads the bare name
// "upgrade.cfg" from the current folder (an activation selects it again), so a test that
// ran in a shared folder would pick up whatever project lies there.
class InFolder {
public:
    explicit InFolder(const std::string& folder) : old_(std::filesystem::current_path()) {
        std::filesystem::current_path(folder);
    }
    ~InFolder() {
        std::error_code ec;
        std::filesystem::current_path(old_, ec);
    }
    InFolder(const InFolder&) = delete;
    InFolder& operator=(const InFolder&) = delete;

private:
    std::filesystem::path old_;
};

// Step-file lines joined with the CR LF line ends the station reads.
inline std::string StepLines(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines) text += line + "\r\n";
    return text;
}

// A board whose answers a test writes as a function of the byte received.
class ScriptBoard : public ps::sim::Board {
public:
    std::function<void(uint8_t, ScriptBoard&)> OnReceive;
    std::vector<uint8_t> Received;
    std::string Kind() const override { return "script"; }
    void OnByte(uint8_t b) override {
        Received.push_back(b);
        if (OnReceive) OnReceive(b, *this);
    }
    void Reply(const std::vector<uint8_t>& bytes, int delayMs = 0) { Send(bytes, delayMs); }
    void Reply(uint8_t b, int delayMs = 0) { Send(b, delayMs); }
};

struct StationHarness {
    ps::sim::VirtualClock clock;
    GuardedView view{clock};
    ps::Station st{clock, view};
    std::shared_ptr<ps::sim::Wire> wire;  // none when the harness was given a resolver
    TempDir dir;
    InFolder here{dir.Path()};  // every test in a folder of its own

    explicit StationHarness(std::unique_ptr<ps::sim::Board> board) {
        wire = std::make_shared<ps::sim::Wire>(clock, std::move(board), "sim:test");
        Setup([w = wire](int port) -> std::unique_ptr<ps::PortDevice> {
            if (port != 1) return nullptr;
            return std::make_unique<ps::sim::SimPortDevice>(w);
        });
    }
    // A station whose ports come from `resolver` (a device over a pseudo-terminal, say).
    explicit StationHarness(ps::PortResolver resolver) { Setup(std::move(resolver)); }

    template <class B>
    B& Board() {
        return wire->BoardAs<B>();
    }
    ps::sim::Transcript& Wire() { return wire->transcript(); }

    void StepFile(const std::vector<std::string>& lines) {
        dir.Write("upgrade.cfg", StepLines(lines));
    }
    // Runs the project as START does and returns the exit status a script would see. A
    // run still going after `limitMs` on the station's clock fails the test and is stopped.
    int Run(int64_t limitMs = RunLimitMs) {
        view.Arm(limitMs);
        ps::StartBtnClick(st);
        view.Arm();  // what the test does next with the station is bounded afresh
        return ps::ExitStatusFor(st);
    }
    void ContinueWhenAsked() {
        view.OnContinueShown([this] { ps::ContinueBtnClick(st); });
    }

private:
    void Setup(ps::PortResolver resolver) {
        st.Comm.SetResolver(std::move(resolver));
        st.Project.StepFile = dir.File("upgrade.cfg");
        st.Project.Name = "UPGRADE";
        st.IniPath = dir.File("PROGRAMMER.INI");
        st.ProgramFolder = dir.Path() + "/";
        ps::FillCrc32Table();
        view.Stop = [this] { ps::StopBtnClick(st); };
        view.Describe = [this] {
            return DescribeRun(view, wire ? &wire->transcript() : nullptr, clock.NowMs());
        };
        view.Arm();  // tests that drive the link themselves are bounded from the start
    }
};

}  // namespace pstest

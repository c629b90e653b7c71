// SPDX-License-Identifier: MIT
#pragma once
// A station wired to a simulated AVR board under the virtual clock, and the image files
// the AVR tests write.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "run/Station.h"
#include "sim/AvrBoard.h"
#include "sim/RecordingView.h"
#include "sim/SimPortDevice.h"
#include "sim/VirtualClock.h"
#include "sim/Wire.h"
#include "support/RunGuard.h"

namespace ps::avrtest {

// A folder of its own for each test, removed afterwards.
class TempDir {
public:
    TempDir();
    ~TempDir();
    std::string File(const std::string& name) const { return (path_ / name).string(); }
    const std::filesystem::path& Path() const { return path_; }

private:
    std::filesystem::path path_;
};

// Changes the working folder for as long as it lives.
class InFolder {
public:
    explicit InFolder(const std::filesystem::path& folder);
    ~InFolder();

private:
    std::filesystem::path old_;
};

// One Intel HEX record line (with its line end): type, 16-bit address and payload, and the
// checksum that makes the line's bytes sum to zero.
std::string HexRecord(uint8_t type, uint16_t address, const std::vector<uint8_t>& payload,
                      const char* lineEnd = "\n");
// Intel HEX text of image[0 .. length): 16-byte data records for every chunk holding
// something other than 0xFF, then the end record.
std::string IntelHex(const std::vector<uint8_t>& image, size_t length);
// A program-like image: `length` bytes of varied data, with erased stretches between
// unless `gaps` is false.
std::vector<uint8_t> SampleImage(size_t length, uint32_t seed = 1, bool gaps = true);
void WriteFile(const std::string& path, const std::string& text);
std::string ReadFile(const std::string& path);

// Reads an Intel HEX file back independently of the station's code: data records only.
// Sets ok false on a bad record or checksum.
std::vector<uint8_t> ParseIntelHex(const std::string& text, size_t size, bool& ok);

struct Rig {
    explicit Rig(const sim::AvrBoard::Options& options);
    explicit Rig(int processor) : Rig(OptionsFor(processor)) {}
    static sim::AvrBoard::Options OptionsFor(int processor);

    // A flash step for the board's processor over addrLen bytes from 0, no pause.
    void FlashStep(const std::string& file, int32_t addrLen);
    // RunAtmelFlow, recording what went over the wire. A flow still going after `limitMs`
    // on the station's clock fails the test and is stopped.
    void Run(int64_t limitMs = pstest::RunLimitMs);

    // Lets the board see what the station sent last (nothing waits for an answer to it).
    void Settle();

    // The write calls the station made, in order.
    std::vector<std::vector<uint8_t>> Writes() const;
    // The same without the data bytes of the pages, so only commands are left.
    std::vector<std::vector<uint8_t>> Commands() const;
    // How many commands (writes outside page data) equal `bytes`.
    int CountWrites(const std::vector<uint8_t>& bytes) const;
    // How many page headers ('S', address, 0x80) were sent.
    int PageHeaders() const;

    sim::VirtualClock clock;
    pstest::GuardedView view{clock};
    Station st{clock, view};
    std::shared_ptr<sim::Wire> wire;
    sim::AvrBoard* board = nullptr;
};

}  // namespace ps::avrtest

// SPDX-License-Identifier: MIT
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "link/Clock.h"
#include "link/PortDevice.h"
#include "sim/Board.h"
#include "sim/Wire.h"

namespace ps::sim {

// One option of a board spec: "late=300" is {"late", "300", true}, "silent" is
// {"silent", "", false}. Keys are lower case.
struct BoardOption {
    std::string Key;
    std::string Value;
    bool HasValue = false;
};
using BoardOptions = std::vector<BoardOption>;

// Makes a board from its own options (the fault options common to all boards are taken
// out before); returns nullptr and sets error for an option it does not know.
using BoardMaker = std::unique_ptr<Board> (*)(const BoardOptions& options, std::string& error);

struct BoardType {
    const char* Name;
    const char* Help;  // one line: what the board is and its own options
    BoardMaker Make;
};
// Every board boardsim and "sim:" ports can run.
const std::vector<BoardType>& BoardTypes();

// The fault options every board takes, with a help line each.
std::vector<std::pair<std::string, std::string>> FaultOptionHelp();
// ", silent, late=300": the faults in force, for Describe().
std::string DescribeFaults(const Faults& faults);

// Option values. Numbers are decimal or 0x-prefixed hexadecimal.
bool OptionNumber(const BoardOption& option, long min, long max, long& out, std::string& error);
// Exactly `count` bytes written as 2*count hexadecimal digits ("1E9502").
bool OptionHexBytes(const BoardOption& option, size_t count, std::vector<uint8_t>& out,
                    std::string& error);
std::string UnknownOptionError(const std::string& board, const BoardOption& option);

// The simulated ports of one program or test: the same spec always leads to the same
// board, so a board keeps its memory while the station closes and reopens the port.
class SimPortPool {
public:
    explicit SimPortPool(Clock& clock) : clock_(clock) {}

    // A device on the wire of `spec` (the text after "sim:"); nullptr for an unknown board
    // or option, with the reason in LastError().
    std::unique_ptr<PortDevice> MakeDevice(const std::string& spec);
    // The wire made for `spec`, or nullptr when none has been made yet.
    std::shared_ptr<Wire> Find(const std::string& spec) const;
    const std::string& LastError() const { return lastError_; }
    // MakeDevice as a function, for the port map. The pool must outlive it.
    std::function<std::unique_ptr<PortDevice>(const std::string& spec)> Factory();
    // Whether new wires keep a transcript (tests read it; programs turn it off).
    bool RecordTranscripts = true;

private:
    Clock& clock_;
    std::map<std::string, std::shared_ptr<Wire>> wires_;
    std::string lastError_;
};

// What the programs give the port map so that "sim:..." ports are simulated in-process.
// The function owns its pool of boards.
std::function<std::unique_ptr<PortDevice>(const std::string& spec)> SimDeviceFactory(Clock& clock);

}  // namespace ps::sim

// SPDX-License-Identifier: MIT
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sim/MemoryDump.h"

namespace ps::sim {

// How a board misbehaves, set from the board spec ("sim:avr,silent") or by a test.
struct Faults {
    bool Silent = false;       // answers nothing at all
    bool Negative = false;     // answers negatively where its protocol has a "no"
    bool Noise = false;        // sends stray bytes before its answers
    int LateMs = 0;            // every answer comes this much later
    long DropAfterBytes = -1;  // the line goes dead (port vanishes) after this many bytes
                               // from the station; -1 never
};

class Wire;

// The far side of the serial line: a board model written from the byte exchanges alone.
// It sees every byte the station sends (once the byte has crossed the line), the control
// lines and the baud rate, and answers through Send. Faults are applied by the wire, so a
// board only models its protocol; board-specific faults (a wrong signature, a fuse that
// does not stick) are options of the board itself.
class Board {
public:
    virtual ~Board() = default;
    virtual std::string Kind() const = 0;

    virtual void OnByte(uint8_t b) = 0;
    virtual void OnLines(bool /*dtr*/, bool /*rts*/) {}
    virtual void OnBaud(uint32_t /*baud*/) {}
    virtual void OnOpen() {}
    virtual void OnClose() {}

    // A line for boardsim's log and for test failure messages.
    virtual std::string Describe() const { return Kind(); }
    // The board's memory as it stands, for dump=FILE; none for a board that keeps none.
    virtual std::vector<MemoryRegion> MemoryRegions() const { return {}; }
    // dump=FILE: where the memory is written each time the port closes; "" never.
    std::string DumpFile;

    Faults faults;
    // Bytes the station's port holds on their way out before a write has to wait for the
    // line, as a real driver's output queue; -1 without limit. Boards that take a stream
    // without answers (and hold it with XOFF) set it, so the station's writes are paced by
    // the line and it sees the board's XOFF in time.
    long StationQueueBytes = -1;
    // A USB serial adapter between board and station that passes received bytes on only
    // when its latency timer runs out: the board's bytes reach the station in bursts every
    // this many milliseconds (16 for an FTDI chip as it comes, 1 when lowered); 0 at once.
    int AdapterLatencyMs = 0;

    void AttachWire(Wire* wire) { wire_ = wire; }

protected:
    // Sends bytes to the station, after delayMs of board time (then at line speed).
    void Send(const std::vector<uint8_t>& bytes, int delayMs = 0);
    void Send(uint8_t b, int delayMs = 0) { Send(std::vector<uint8_t>{b}, delayMs); }
    int64_t NowMs() const;
    bool Dtr() const;
    bool Rts() const;
    uint32_t Baud() const;

private:
    Wire* wire_ = nullptr;
};

// Makes a board from a spec: "generic", "avr,proc=6,silent", ... (the part after "sim:").
// Returns nullptr and sets error for an unknown board or option.
std::unique_ptr<Board> MakeBoard(const std::string& spec, std::string& error);
// Board names with a line of help each, for boardsim --help.
std::vector<std::pair<std::string, std::string>> BoardHelp();

}  // namespace ps::sim

// SPDX-License-Identifier: MIT
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/Board.h"
#include "sim/Boards.h"

namespace ps::sim {

// The far side of a "SHARC-HostBoot" step: the board's AVR bridge, which takes a boot
// stream for the DSP's host port. It is found with 'A' ('a') and unlocked with "KBoTaps"
// ('O', or 'E' with the negative fault); 'B' then starts the stream: 16-bit words high
// byte first, 0xFF followed by the byte inverted for an escaped byte, 0xFE at the end.
//
// The bridge buffers what arrives and hands it to the DSP at the DSP's pace (rate=N bytes
// a second; 0, the default, as fast as it comes). When its buffer fills to the XOFF level
// it sends XOFF (0x13), and XON (0x11) once the DSP has taken it down to the XON level.
// Bytes that find the buffer full are lost and counted, so a station that ignores XOFF
// leaves a boot image with holes. The station's port holds queue=N bytes (default 256) on
// their way out, as a real driver does, so its writes are paced by the line.
class SharcHostBootBoard : public Board {
public:
    struct Options {
        int Rate = 0;          // rate=N: bytes a second the DSP takes; 0 as fast as they come
        int XoffLevel = 1024;  // xoff=N
        int XonLevel = 256;    // xon=N
        int Capacity = 4096;   // buffer=N
        int Queue = 256;       // queue=N: the station's output queue
        bool NoXon = false;    // noxon: after XOFF the bridge never lets the stream go on
    };

    explicit SharcHostBootBoard(const Options& options);
    std::string Kind() const override { return "sharchost"; }
    std::vector<MemoryRegion> MemoryRegions() const override { return {{"memory", 0, memory_}}; }
    std::string Describe() const override;
    void OnByte(uint8_t b) override;
    void OnOpen() override;

    // The boot image as the DSP received it, in the file's byte order (low byte first).
    const std::vector<uint8_t>& Memory() const { return memory_; }
    bool Started() const { return started_; }    // 'B' received
    bool Finished() const { return finished_; }  // the end byte received
    long Lost() const { return lost_; }          // bytes that found the buffer full
    int Xoffs() const { return xoffs_; }
    int PeakFill() const { return static_cast<int>(peak_); }

private:
    void Drain(int64_t nowMs);
    void StreamByte(uint8_t b);
    void Take(uint8_t value);

    Options options_;
    bool unlocked_ = false;
    bool streaming_ = false;
    bool started_ = false;
    bool finished_ = false;
    size_t unlockAt_ = 0;  // characters of "KBoTaps" matched so far (0: none)
    bool escapePending_ = false;
    bool haveHigh_ = false;
    uint8_t high_ = 0;
    std::vector<uint8_t> memory_;

    double fill_ = 0;  // bytes waiting in the bridge
    double peak_ = 0;
    int64_t lastMs_ = 0;
    bool held_ = false;  // XOFF sent, XON not yet due
    int64_t xonAtMs_ = 0;
    long lost_ = 0;
    int xoffs_ = 0;
};

// Makes the board from its options (after "sharchost,"): rate=N, xoff=N, xon=N, buffer=N,
// queue=N, noxon.
std::unique_ptr<Board> MakeSharcHostBootBoard(const BoardOptions& options, std::string& error);

}  // namespace ps::sim

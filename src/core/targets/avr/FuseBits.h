// SPDX-License-Identifier: MIT
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace ps {

class Station;

// Shown when a fuse byte read back differs from the byte just written.
inline constexpr const char* MsgFuseWriteError = "Fuse write ERROR...";

// AVR processor indexes, as "/ATMEL=" and the signature table number them.
enum AvrProcessor : int {
    AvrAT90S2313 = 0,
    AvrAT90S4433 = 1,
    AvrATmega163 = 2,
    AvrATtiny12 = 3,
    AvrLoader = 4,
    AvrATmega323 = 5,
    AvrATmega32 = 6,
    AvrATmega16 = 7,
};

// Programmer command bytes for fuses and lock bits.
constexpr uint8_t AvrCmdWriteFuses = 0x46;      // 'F' + three bytes
constexpr uint8_t AvrCmdWriteHighFuses = 0x48;  // 'H' + one byte
constexpr uint8_t AvrCmdReadFuses = 0x66;       // 'f' -> one byte
constexpr uint8_t AvrCmdReadHighFuses = 0x68;   // 'h' -> one byte
constexpr uint8_t AvrCmdReadLock = 0x6C;        // 'l' -> one byte
constexpr uint8_t AvrCmdWriteLock = 0x4C;       // 'L' + three bytes (one on the loader)

// Brings a fuse text in the compact layout (only the fuses the processor has) into the
// common layout: "N" and sixteen bit characters, CKSEL0 first. The input is padded with
// twenty "0" first; processors without a conversion get the padded input back.
std::string FuseStringToBits(int processor, const std::string& text);

// The sixteen (or more) bit characters p0, p1, ... that the fuse commands are built from:
// the "/FUSES=" text padded, converted when it is compact, without its "N".
std::string PrepareFuseText(int processor, const std::string& fuses);

// One fuse command as it goes out in one write, and whether the byte it carries is read
// back (with readCommand) to check that it stuck.
struct FuseCommand {
    std::vector<uint8_t> Frame;
    bool ReadBack = false;
    uint8_t ReadCommand = 0;
    uint8_t Expected = 0;
};

// The fuse commands of a processor for a "/FUSES=" text, in the order they are sent.
// Empty for processors without fuse commands (0, 3, 4 and unknown ones).
std::vector<FuseCommand> FuseCommands(int processor, const std::string& fuses);

// The lock command for a "/LOCK=" text; empty for processors without one (3, unknown).
std::vector<uint8_t> LockCommand(int processor, const std::string& lock);

// Sends the fuse commands, each acknowledged with 'O'; processors 6 and 7 read each byte
// back and end the step with "Fuse write ERROR..." and RunError 2 when it did not stick.
void WriteFuseBits(Station& st, int processor, const std::string& fuses);
// Sends the lock command and waits for its 'O'.
void WriteLockBits(Station& st, int processor, const std::string& lock);

}  // namespace ps

// SPDX-License-Identifier: MIT
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "sim/Board.h"
#include "sim/Boards.h"

namespace ps::sim {

// Bytes of the exchanges the generic board answers. Handshake pairs: station byte, answer.
namespace generic {
constexpr uint8_t SyncS = 0x73, SyncSAnswer = 0x69;        // 's' -> 'i'
constexpr uint8_t BankPort = 0x78, BankPortAnswer = 0x79;  // 'x' -> 'y', value, '}'
constexpr uint8_t BankPortDone = 0x7D;                     // '}'
constexpr uint8_t FlashId = 0x28, FlashIdAnswer = 0x29;    // '(' -> ')', code
constexpr uint8_t AvrSync = 0x50, AvrSyncAnswer = 0x4F;    // 'P' -> 'O'
constexpr uint8_t AvrSignature = 0x49;                     // 'I' -> s1 s2 s3
constexpr uint8_t Sync18 = 0x18, Sync18Answer = 0x11;
constexpr uint8_t SyncA = 0x41, SyncAAnswer = 0x61;          // 'A' -> 'a'
constexpr uint8_t Erase = 0x32, EraseDone = 0x37;            // '2' -> '7'
constexpr uint8_t EraseRange = 0x0A, EraseRangeDone = 0x0F;  // + start, length
constexpr uint8_t Run16 = 0x1E, Run16Done = 0x23;            // + address -> '#'
constexpr uint8_t FrameLead = 0x4B;                          // 'K'
constexpr uint8_t FrameEraseSectors = 0x32;                  // '2' value -> 'i' / 'h'
constexpr uint8_t FrameRun32 = 0x33;                         // '3' address, no answer
constexpr uint8_t FrameStart = 0x30;                         // '0' -> 'i' / 'h'
constexpr uint8_t FrameChecksum = 0x34;                      // '4' s, e -> sum hi, lo, 0
constexpr uint8_t FrameAck = 0x69, FrameNak = 0x68;          // 'i', 'h'
// "KBoTaps" starts like a frame but is a plain text, answered 'O' or 'E'.
constexpr uint8_t TextCommand = 0x42;  // 'B' after 'K'
constexpr char TextRest[] = "oTaps";
constexpr uint8_t TextAck = 0x4F, TextNak = 0x45;  // 'O', 'E'
}  // namespace generic

// The far side of the link primitives: a board that answers the handshakes, keeps the bank
// port value, identifies a flash chip and an AVR, erases, runs at addresses and takes "K"
// frames, and records all of it for tests. With the Negative fault it refuses the frames
// that have a "no". A command left unfinished for longer than a second (a station stopped
// in the middle) is forgotten, so the next run starts clean.
class GenericBoard : public Board {
public:
    struct Frame {
        uint8_t Command;
        std::vector<uint8_t> Payload;
        bool CheckOk;
    };

    std::string Kind() const override { return "generic"; }
    std::string Describe() const override;
    void OnByte(uint8_t b) override;
    void OnLines(bool dtr, bool rts) override;
    void OnBaud(uint32_t baud) override { LastBaud = baud; }

    // Configuration.
    uint8_t FlashCode = 0x03;
    std::array<uint8_t, 3> Signature{0x1E, 0x95, 0x02};
    uint16_t Checksum = 0;

    // What the board saw.
    bool BankPortSet = false;
    uint16_t BankPortValue = 0;
    int Erases = 0;                                          // '2' -> '7'
    std::vector<std::pair<uint16_t, uint16_t>> RangeErases;  // start, length
    std::vector<uint16_t> RunAddresses16;
    std::vector<uint16_t> SectorErases;                         // "K" '2' values
    std::vector<uint32_t> RunAddresses32;                       // "K" '3'
    int Starts = 0;                                             // "K" '0'
    std::vector<std::pair<uint32_t, uint32_t>> ChecksumRanges;  // "K" '4'
    std::vector<Frame> Frames;                                  // every "K" frame
    int BadFrames = 0;                                          // wrong check byte or text
    std::vector<uint8_t> Unknown;                               // bytes no command starts with
    std::vector<std::string> LineLog;                           // "DTR 1 RTS 0 @120"
    uint32_t LastBaud = 0;

private:
    enum class Collecting {
        Nothing,
        BankValue,
        Range,
        Run16,
        FrameCommand,
        FrameLength,
        FrameBody,
        Text
    };
    void Command(uint8_t b);
    void Collect(Collecting what, size_t count);
    void Finish();
    void FinishFrame();
    void Reset();

    Collecting collecting_ = Collecting::Nothing;
    size_t need_ = 0;
    std::vector<uint8_t> args_;
    uint8_t frameCommand_ = 0;
    uint8_t frameLength_ = 0;
    int64_t lastByteMs_ = 0;
};

std::unique_ptr<Board> MakeGenericBoard(const BoardOptions& options, std::string& error);

}  // namespace ps::sim

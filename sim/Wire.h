// SPDX-License-Identifier: MIT
#pragma once
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "link/Clock.h"
#include "sim/Board.h"

namespace ps::sim {

// Everything the station did on a simulated line, for tests to assert on. Times are the
// station's clock in milliseconds at the moment of the call.
struct Transcript {
    struct SentByte {
        int64_t AtMs;       // when the station wrote it
        int64_t ArrivesUs;  // when its last bit reached the board
        uint8_t Byte;
    };
    struct WriteCall {
        int64_t AtMs;
        std::vector<uint8_t> Bytes;
    };
    struct LineChange {
        int64_t AtMs;
        char Line;  // 'D' DTR, 'R' RTS
        bool Asserted;
    };
    struct BaudChange {
        int64_t AtMs;
        uint32_t Baud;
    };
    struct Event {
        int64_t AtMs;
        std::string Text;  // "OPEN", "CLOSE", "BAUD 9600", "DTR 1", "RTS 0", "TX 4B 30",
                           // "RX 69", "PURGE", in the wire trace's words
    };

    std::vector<SentByte> Sent;
    std::vector<WriteCall> Writes;
    std::vector<LineChange> Lines;
    std::vector<BaudChange> Bauds;
    std::vector<uint8_t> Received;  // every byte the station read, in order
    std::vector<Event> Events;
    int Opens = 0;
    int Closes = 0;
    int Purges = 0;

    // All bytes the station sent, in order.
    std::vector<uint8_t> SentBytes() const;
    // The line requests as "DTR 1", "RTS 0", ... in order.
    std::vector<std::string> LineTexts() const;
    // The event texts only, in order.
    std::vector<std::string> EventTexts() const;
    void Clear();
};

// "4B 30 01 FE": bytes in upper-case hexadecimal, a blank between them.
std::string HexBytes(const uint8_t* data, size_t count);
std::string HexBytes(const std::vector<uint8_t>& bytes);

// A serial line between the station and a board, modelled in time. At the current baud
// rate every byte takes ten bit times in each direction. Bytes the station writes reach the
// board one after another at their arrival times; the board answers through Board::Send,
// and its bytes become readable only once their last bit has arrived. Control-line and baud
// changes reach the board in order with the bytes. Nothing runs on its own: the wire works
// out what has happened up to the clock's present whenever the station calls it, so the
// same code runs under the virtual clock of the tests and under the real one. Times are
// kept in microseconds and sleeps end at the exact moment of the next event, so a benchmark
// on the real clock measures the station, not the rounding of the line.
//
// The wire owns its board and outlives the port devices opened on it, so a board keeps its
// memory when the station closes and reopens the port between steps. One thread only.
class Wire {
public:
    Wire(Clock& clock, std::unique_ptr<Board> board, std::string name);
    ~Wire();
    Wire(const Wire&) = delete;
    Wire& operator=(const Wire&) = delete;

    const std::string& Name() const { return name_; }
    Board& board() { return *board_; }
    template <class T>
    T& BoardAs() {
        return dynamic_cast<T&>(*board_);
    }
    Transcript& transcript() { return transcript_; }
    // Off, the transcript keeps only its counters: for programs, which run for hours and
    // never look at it.
    void SetRecording(bool on) { recording_ = on; }
    Clock& clock() { return clock_; }

    // The station's side (used by SimPortDevice). Negative errno values as PortDevice.
    int Open();
    void Close();
    bool IsOpen() const { return open_; }
    long Write(const uint8_t* data, size_t count);
    long Read(uint8_t* data, size_t count);
    long BytesWaiting();
    int Purge();
    int SetDtr(bool asserted);
    int SetRts(bool asserted);
    int SetBaud(uint32_t baud);
    int WaitReadable(int timeoutMs);
    // Waits until the last byte the station wrote has reached the board, at most timeoutMs;
    // 0 when it has, -ETIMEDOUT when not yet.
    int DrainOutput(int timeoutMs);

    // True once the line has gone dead (DropAfterBytes): the device has vanished.
    bool Dead() const { return dead_; }
    uint32_t Baud() const { return baud_; }

    // The clock's millisecond at which something next happens on the line (a byte reaching
    // the board or the station), -1 when nothing is on its way. For hosts that wait on
    // other things as well (boardsim's pseudo-terminal).
    int64_t NextDueMs() const;

    // Microseconds one byte (start bit, eight data bits, stop bit) takes at the rate.
    static int64_t ByteTimeUs(uint32_t baud);
    // Microseconds `bytes` bytes take back to back.
    static int64_t BurstTimeUs(uint32_t baud, int64_t bytes);

    // The board's side (used by Board).
    void BoardSend(const std::vector<uint8_t>& bytes, int delayMs);
    int64_t BoardNowMs() const;
    bool BoardDtr() const { return boardDtr_; }
    bool BoardRts() const { return boardRts_; }
    uint32_t BoardBaud() const { return boardBaud_; }

private:
    struct StationEvent {
        enum Kind { Byte, Dtr, Rts, Baud } kind;
        uint32_t value;
    };
    struct Incoming {
        int64_t DueUs;
        uint8_t Byte;
    };

    int64_t NowUs() const;
    // Lets the board see everything the station did up to the clock's present.
    void Advance();
    size_t DueCount() const;
    int64_t NextInterestingUs() const;  // -1 when nothing is on its way
    void DropDueBytes();
    // Lets time pass until the station's port has room for `bytes` more (the board's
    // StationQueueBytes).
    void WaitForQueueRoom(size_t bytes);
    void Record(const std::string& text);
    uint8_t NoiseByte();

    Clock& clock_;
    std::unique_ptr<Board> board_;
    std::string name_;
    Transcript transcript_;

    bool recording_ = true;
    bool open_ = false;
    bool dead_ = false;
    long sentCount_ = 0;
    uint32_t baud_ = 0;     // the rate the station set last; 0 none yet
    int64_t txFreeUs_ = 0;  // when the station-to-board direction is free again
    int64_t rxFreeUs_ = 0;  // when the board-to-station direction is free again

    // Station events not yet seen by the board, by time (equal times keep their order).
    std::multimap<int64_t, StationEvent> toBoard_;
    std::deque<Incoming> toStation_;  // due times never decrease

    int64_t boardNowUs_ = -1;  // set while the board handles an event
    bool boardDtr_ = false;
    bool boardRts_ = false;
    uint32_t boardBaud_ = 0;
    uint32_t noiseState_ = 0x2545F491u;
};

}  // namespace ps::sim

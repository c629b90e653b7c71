// SPDX-License-Identifier: MIT
#pragma once
#include <cstdint>
#include <string>

namespace ps {

class Station;

// The link primitives: the small operations on the station's port from which every target
// protocol is built. None has a time limit of its own: a silent board keeps a wait going
// until STOP (RunError 1). No wait spins: every one goes through one blocking step in
// Link.cpp, which pumps the view, then blocks on the device (or sleeps) until the wait's
// deadline, for at most WaitSliceMs when the view must be pumped (a window), for as long as
// needed when the view names descriptors to wake on (the terminal station). That step
// also keeps the opt-in silence limit: every wait that is not marked a pause counts
// towards it until the board is heard again, so no flow can wait past the limit.
constexpr int WaitSliceMs = 10;

// Link bytes used by more than one flow.
constexpr uint8_t AckO = 0x4F;  // 'O'

void PumpMessages(Station& st);
// Lets ms pass while the view keeps pumping: at least ms on the station's monotonic clock,
// ending at its deadline rather than at the end of a slice. Not cut short by STOP.
void WaitMs(Station& st, int ms);
// The same, but returns early once RunError is 1 (waits that only pace a retry).
void WaitMsUnlessStopped(Station& st, int ms);
// A wait split in two, so that the next command's work is done while its time runs:
// DeadlineAfterMs when the wait would begin, WaitUntil before the next byte goes out.
int64_t DeadlineAfterMs(Station& st, int ms);
void WaitUntil(Station& st, int64_t deadlineUs, bool unlessStopped);
// Pauses that are no wait on the board (the line settling, a port being plugged in, a
// command still crossing the line, which the board cannot answer yet): the silence limit
// does not count them.
void PauseMs(Station& st, int ms);
void PauseMsUnlessStopped(Station& st, int ms);
void PauseUsUnlessStopped(Station& st, int64_t us);
// One wait on the operator (the CONTINUE pause): returns once the view may have something
// to do, a slice at the latest for a window. Never counts as silence.
void WaitForOperator(Station& st);
// Waits up to timeoutUs for a byte from the board: true once one is waiting, false when
// the time has passed or on STOP. The byte is left for the caller to read.
bool AwaitInput(Station& st, int64_t timeoutUs);

void SendByte(Station& st, uint8_t b);
void SendChars(Station& st, const uint8_t* frame, int n);  // one write per byte
void SendBlock(Station& st, const uint8_t* data, int n);   // one write for all bytes
void SendText(Station& st, const std::string& text);       // one write (WriteText)
// Waits until every byte written has left the port (or STOP): for a protocol whose last
// bytes get no answer, before the step may count them as the board's.
void WaitUntilSent(Station& st);
uint8_t ReadByte(Station& st);  // meaningless when RunError is 1 afterwards
void ExpectByte(Station& st, uint8_t b);
bool ExpectAck(Station& st, uint8_t ack, uint8_t nak);
void Handshake(Station& st, uint8_t a, uint8_t b);
void DrainInput(Station& st);
void OpenPort(Station& st, int port, const std::string& baudText);
void SetBootLine(Station& st, int mode);  // BootLevel (0) or RunLevel (1)
void PulseReset(Station& st);
void SetBankPort(Station& st);
std::string IdentifyFlash(Station& st);
struct AvrIdentity {
    std::string Name;
    int Index;  // 0..7, 999 protected, -1 error
};
AvrIdentity IdentifyAvr(Station& st);
std::string FlashName(uint8_t code);
AvrIdentity AvrFromSignature(uint8_t s1, uint8_t s2, uint8_t s3);
void EraseMemory(Station& st);
void EraseRange(Station& st, uint16_t start, uint16_t length);
void RunAtAddress16(Station& st, uint16_t address);
void SendEraseSectors(Station& st, uint16_t value);
void RunAtAddress32(Station& st, uint32_t address);
void StartProgram(Station& st);

// "K" frames: 'K', command, L (counts itself and the payload), payload, 0xFF - sum(L, payload).
std::string KFrame(char command, const std::string& payload);

}  // namespace ps

// SPDX-License-Identifier: MIT
#pragma once
#include <cstdint>
#include <string>

namespace ps {

class Station;

// The link primitives: the small operations on the station's port from which every target
// protocol is built. None has a time limit of its own: a silent board keeps a wait going
// until STOP (RunError 1). No wait spins: when nothing is waiting it blocks on the device
// for at most WaitSliceMs before it pumps the view again.
constexpr int WaitSliceMs = 10;

// Link bytes used by more than one flow.
constexpr uint8_t AckO = 0x4F;  // 'O'

void PumpMessages(Station& st);
// Lets ms pass while the view keeps pumping. Not cut short by STOP.
void WaitMs(Station& st, int ms);
// The same, but returns early once RunError is 1 (waits that only pace a retry).
void WaitMsUnlessStopped(Station& st, int ms);

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

// SPDX-License-Identifier: MIT
#include "link/Link.h"

#include <algorithm>
#include <vector>

#include "app/Station.h"
#include "app/Texts.h"

namespace ps {

namespace {

// Handshake rounds and the fixed pauses of the exchanges.
constexpr int HandshakeRoundMs = 500;
constexpr int DrainSettleMs = 100;
constexpr int LineSettleMs = 100;
constexpr int ResetPhaseMs = 100;
constexpr int CommandGapMs = 2;
constexpr int DrainChunk = 900;

// Bytes of the shared command exchanges.
constexpr uint8_t BankPortAsk = 0x78;    // 'x'
constexpr uint8_t BankPortReady = 0x79;  // 'y'
constexpr uint8_t BankPortDone = 0x7D;   // '}'
constexpr uint8_t FlashIdAsk = 0x28;     // '('
constexpr uint8_t FlashIdReady = 0x29;   // ')'
constexpr uint8_t AvrModeAsk = 0x50;     // 'P'
constexpr uint8_t EraseAsk = 0x32;       // '2'
constexpr uint8_t EraseDone = 0x37;      // '7'
constexpr uint8_t EraseRangeAsk = 0x0A;
constexpr uint8_t EraseRangeDone = 0x0F;
constexpr uint8_t RunAt16Ask = 0x1E;
constexpr uint8_t RunAt16Done = 0x23;  // '#'
constexpr uint8_t FrameAck = 0x69;     // 'i'
constexpr uint8_t FrameNak = 0x68;     // 'h'

// The opt-in silence limit counts only the time spent waiting for the board, so a long
// send without answers is not silence; every byte heard starts the count again.
void NoteHeard(Station& st) {
    st.SilentMs = 0;
}

void NoteSilence(Station& st, int64_t ms) {
    if (st.SilenceLimitMs <= 0 || st.RunError != RunOk) return;
    st.SilentMs += ms;
    if (st.SilentMs < st.SilenceLimitMs) return;
    // The waits give up on RunStopped; the controller turns this into RunBoardSilent.
    st.SilenceTripped = true;
    st.RunError = RunStopped;
}

// Blocks until input may be waiting, for at most one slice; on a closed port (where input
// never comes) it simply lets the slice pass.
void WaitForInput(Station& st) {
    const int64_t start = st.clock.NowMs();
    if (st.Comm.Active())
        st.Comm.WaitReadable(WaitSliceMs);
    else
        st.clock.SleepMs(WaitSliceMs);
    if (st.Comm.InputCount() == 0) NoteSilence(st, st.clock.NowMs() - start);
}

void DiscardWaiting(Station& st) {
    uint8_t buffer[DrainChunk];
    for (int n = st.Comm.InputCount(); n > 0; n = st.Comm.InputCount()) {
        if (st.Comm.ReadBuf(buffer, std::min(n, DrainChunk)) <= 0) break;
    }
}

void SetLine(Station& st, bool dtr, bool asserted) {
    if (dtr)
        st.Comm.SetDTR(asserted);
    else
        st.Comm.SetRTS(asserted);
}

// "DTR1" -> DTR, active level asserted; anything unknown -> false.
bool ParseLineName(const std::string& name, bool& dtr, bool& activeAsserted) {
    if (name == "DTR1" || name == "DTR0" || name == "RTS1" || name == "RTS0") {
        dtr = name[0] == 'D';
        activeAsserted = name[3] == '1';
        return true;
    }
    return false;
}

}  // namespace

void PumpMessages(Station& st) {
    st.view.PumpMessages();
}

namespace {
void Wait(Station& st, int ms, bool untilStopped) {
    const int64_t end = st.clock.NowMs() + ms;
    for (;;) {
        PumpMessages(st);
        const int64_t left = end - st.clock.NowMs();
        if (left <= 0 || (untilStopped && st.RunError == RunStopped)) return;
        st.clock.SleepMs(std::min<int64_t>(left, WaitSliceMs));
    }
}
}  // namespace

void WaitMs(Station& st, int ms) {
    Wait(st, ms, false);
}

void WaitMsUnlessStopped(Station& st, int ms) {
    Wait(st, ms, true);
}

void SendByte(Station& st, uint8_t b) {
    st.Comm.WriteBuf(&b, 1);
}

void SendChars(Station& st, const uint8_t* frame, int n) {
    for (int i = 0; i < n; ++i) st.Comm.WriteBuf(frame + i, 1);
}

void SendBlock(Station& st, const uint8_t* data, int n) {
    st.Comm.WriteBuf(data, n);
}

void SendText(Station& st, const std::string& text) {
    st.Comm.WriteText(text);
}

void WaitUntilSent(Station& st) {
    while (st.RunError != RunStopped) {
        PumpMessages(st);
        if (st.Comm.WaitWritten(WaitSliceMs)) return;
    }
}

uint8_t ReadByte(Station& st) {
    for (;;) {
        PumpMessages(st);
        if (st.RunError == RunStopped) return 0;
        if (st.Comm.InputCount() != 0) {
            uint8_t c = 0;
            if (st.Comm.ReadChar(c)) {
                NoteHeard(st);
                return c;
            }
        }
        WaitForInput(st);
    }
}

void ExpectByte(Station& st, uint8_t b) {
    while (st.RunError != RunStopped) {
        PumpMessages(st);
        if (ReadByte(st) == b && st.RunError != RunStopped) return;
    }
}

bool ExpectAck(Station& st, uint8_t ack, uint8_t nak) {
    for (;;) {
        if (st.RunError == RunStopped) return false;
        PumpMessages(st);
        uint8_t c = 0;
        const bool got = st.Comm.InputCount() >= 1 && st.Comm.ReadChar(c);
        if (got) NoteHeard(st);
        if (c == ack || c == nak) {
            if (c == nak) ++st.ErrorCount;
            return c == ack;
        }
        if (!got) WaitForInput(st);
    }
}

void Handshake(Station& st, uint8_t a, uint8_t b) {
    for (;;) {
        DiscardWaiting(st);
        SendByte(st, a);
        PumpMessages(st);
        if (st.RunError == RunStopped) return;
        WaitMsUnlessStopped(st, HandshakeRoundMs);
        if (st.RunError == RunStopped) return;
        uint8_t c = 0;
        if (st.Comm.InputCount() >= 1 && st.Comm.ReadChar(c)) {
            NoteHeard(st);
            if (c == b) return;
        } else {
            NoteSilence(st, HandshakeRoundMs);
        }
    }
}

void DrainInput(Station& st) {
    st.Comm.PurgeAll();
    WaitMs(st, DrainSettleMs);
    DiscardWaiting(st);
}

void OpenPort(Station& st, int port, const std::string& baudText) {
    const bool wasOpen = st.Comm.Active();
    if (wasOpen) {
        try {
            st.Comm.Close();
        } catch (const ESerialPortError&) {
        }
    }
    PumpMessages(st);
    try {
        st.Comm.SetPortNum(port);
        TBaudRate rate = br9600;
        static const struct {
            const char* text;
            TBaudRate rate;
        } rates[] = {{"1200", br1200},   {"2400", br2400},    {"4800", br4800},
                     {"9600", br9600},   {"19200", br19200},  {"38400", br38400},
                     {"57600", br57600}, {"115200", br115200}};
        for (const auto& r : rates)
            if (baudText == r.text) rate = r.rate;
        st.Comm.SetBaudrate(rate);
    } catch (const ESerialPortError&) {
        // Only a port that is still open refuses these; the caller's own open reports it.
    }
    PumpMessages(st);
    if (wasOpen) {
        WaitMs(st, LineSettleMs);
        PumpMessages(st);
        try {
            st.Comm.Open();
        } catch (const ESerialPortError&) {
        }
    }
}

void SetBootLine(Station& st, int mode) {
    bool dtr = false, activeAsserted = false;
    if (ParseLineName(st.Step.BootSignal, dtr, activeAsserted))
        SetLine(st, dtr, mode == BootLevel ? activeAsserted : !activeAsserted);
    WaitMs(st, LineSettleMs);
}

void PulseReset(Station& st) {
    bool dtr = false, activeAsserted = false;
    if (!ParseLineName(st.Step.ResetSignal, dtr, activeAsserted)) return;
    SetLine(st, dtr, activeAsserted);
    WaitMs(st, ResetPhaseMs);
    SetLine(st, dtr, !activeAsserted);
    WaitMs(st, ResetPhaseMs);
}

void SetBankPort(Station& st) {
    const uint16_t value = st.Step.BankPortValue;
    if (value == 0xFFFF) return;
    Handshake(st, BankPortAsk, BankPortReady);
    SendByte(st, static_cast<uint8_t>(value >> 8));
    SendByte(st, static_cast<uint8_t>(value & 0xFF));
    ExpectByte(st, BankPortDone);
}

std::string FlashName(uint8_t code) {
    switch (code) {
        case 0x02:
            return "AT29C010A";
        case 0x03:
            return "AM29F010";
        case 0x04:
            return "AM28F010A";
        case 0x05:
            return "AM28F020A";
        case 0x06:
            return "UNKNOWN";
        case 0x07:
            return "V29C51001T";
        case 0x08:
            return "V29C51001B";
        default:
            return "ERROR";
    }
}

std::string IdentifyFlash(Station& st) {
    Handshake(st, FlashIdAsk, FlashIdReady);
    return FlashName(ReadByte(st));
}

AvrIdentity AvrFromSignature(uint8_t s1, uint8_t s2, uint8_t s3) {
    static const struct {
        uint32_t signature;
        const char* name;
        int index;
    } table[] = {
        {0x1E9101, "AT90S2313", 0}, {0x1E9203, "AT90S4433", 1}, {0x1E9402, "ATmega163", 2},
        {0x1E9005, "ATtiny12", 3},  {0x4C4F41, "AT_LOADER", 4}, {0x1E9501, "ATmega323", 5},
        {0x1E9502, "ATmega32", 6},  {0x1E9403, "ATmega16", 7},  {0x000102, "PROTECTED", 999},
    };
    const uint32_t signature = (uint32_t{s1} << 16) | (uint32_t{s2} << 8) | s3;
    for (const auto& row : table)
        if (row.signature == signature) return {row.name, row.index};
    return {"ERROR", -1};
}

AvrIdentity IdentifyAvr(Station& st) {
    Handshake(st, AvrModeAsk, AckO);
    SendText(st, "I");
    const uint8_t s1 = ReadByte(st);
    const uint8_t s2 = ReadByte(st);
    const uint8_t s3 = ReadByte(st);
    return AvrFromSignature(s1, s2, s3);
}

void EraseMemory(Station& st) {
    SendByte(st, EraseAsk);
    ExpectByte(st, EraseDone);
}

void EraseRange(Station& st, uint16_t start, uint16_t length) {
    SendByte(st, EraseRangeAsk);
    WaitMs(st, CommandGapMs);
    SendByte(st, static_cast<uint8_t>(start >> 8));
    SendByte(st, static_cast<uint8_t>(start & 0xFF));
    SendByte(st, static_cast<uint8_t>(length >> 8));
    SendByte(st, static_cast<uint8_t>(length & 0xFF));
    ExpectByte(st, EraseRangeDone);
}

void RunAtAddress16(Station& st, uint16_t address) {
    SendByte(st, RunAt16Ask);
    WaitMs(st, CommandGapMs);
    SendByte(st, static_cast<uint8_t>(address >> 8));
    SendByte(st, static_cast<uint8_t>(address & 0xFF));
    ExpectByte(st, RunAt16Done);
}

std::string KFrame(char command, const std::string& payload) {
    std::string frame;
    frame += 'K';
    frame += command;
    const uint8_t length = static_cast<uint8_t>(payload.size() + 1);
    uint8_t sum = length;
    frame += static_cast<char>(length);
    for (char c : payload) {
        frame += c;
        sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(c));
    }
    frame += static_cast<char>(0xFF - sum);
    return frame;
}

namespace {
void SendFrameChars(Station& st, const std::string& frame) {
    SendChars(st, reinterpret_cast<const uint8_t*>(frame.data()), static_cast<int>(frame.size()));
}
std::string Be16(uint16_t v) {
    return {static_cast<char>(v >> 8), static_cast<char>(v & 0xFF)};
}
}  // namespace

void SendEraseSectors(Station& st, uint16_t value) {
    SendFrameChars(st, KFrame('2', Be16(value)));
    if (!ExpectAck(st, FrameAck, FrameNak) && st.RunError != RunStopped)
        st.view.ShowMessage(MessageKind::Error, TextEraseFail);
}

void RunAtAddress32(Station& st, uint32_t address) {
    SendFrameChars(st, KFrame('3', Be16(static_cast<uint16_t>(address >> 16)) +
                                       Be16(static_cast<uint16_t>(address & 0xFFFF))));
}

void StartProgram(Station& st) {
    const std::string frame = KFrame('0', "");
    SendBlock(st, reinterpret_cast<const uint8_t*>(frame.data()), static_cast<int>(frame.size()));
    ExpectAck(st, FrameAck, FrameNak);
}

}  // namespace ps

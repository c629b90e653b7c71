// SPDX-License-Identifier: MIT
#include "link/Link.h"

#include <algorithm>
#include <vector>

#include "run/Station.h"
#include "run/Texts.h"
#include "link/Clock.h"

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
// send without answers is not silence; every byte heard starts the count again. A byte is
// heard when the port has received it, whoever read it, so a flow that reads the port
// itself can never leave the count running.
bool CountsSilence(const Station& st) {
    return st.SilenceLimitMs > 0 && st.RunError == RunOk && st.Running;
}

bool Heard(Station& st) {
    const int64_t received = st.Comm.BytesReceived();
    if (received == st.HeardBytes && st.Comm.InputCount() == 0) return false;
    st.HeardBytes = received;
    st.SilentUs = 0;
    return true;
}

void NoteSilence(Station& st, int64_t us) {
    st.SilentUs += us;
    if (st.SilentUs < st.SilenceLimitMs * 1000) return;
    // The waits give up on RunStopped; the controller turns this into RunBoardSilent.
    st.SilenceTripped = true;
    st.RunError = RunStopped;
}

// The station's one blocking step. It blocks until untilUs, for at most one slice when the
// view has nothing to wake on, and never past the moment the silence limit would trip; on
// the port when the wait is for input (it returns once input may be waiting), otherwise
// on the clock. The view's wake descriptors end it early either way.
void BlockOnce(Station& st, int64_t untilUs, bool forInput, bool countsSilence) {
    const std::vector<int> wake = st.view.WakeFds();
    const int64_t start = st.clock.NowUs();
    int64_t limit = untilUs;
    if (wake.empty()) limit = std::min(limit, start + int64_t{WaitSliceMs} * 1000);
    const bool counting = countsSilence && CountsSilence(st);
    if (counting) {
        Heard(st);
        limit = std::min(limit, start + std::max<int64_t>(
                                            st.SilenceLimitMs * 1000 - st.SilentUs, 0));
    }
    if (forInput && st.Comm.Active()) {
        const bool readable =
            st.Comm.WaitReadableUs(limit == NoDeadlineUs ? NoDeadlineUs : limit - start, wake);
        // A device that keeps the machine's time under a clock that does not (a test's
        // virtual clock over a pseudo-terminal) would otherwise never let a timed wait end.
        if (!readable && wake.empty()) st.clock.SleepUntilUs(limit);
    } else {
        st.clock.SleepUntilUsOrReadable(limit, wake);
    }
    if (counting && !Heard(st)) NoteSilence(st, st.clock.NowUs() - start);
}

// Waits until endUs on the clock; the view is pumped before every block.
void WaitUntilUs(Station& st, int64_t endUs, bool unlessStopped, bool countsSilence) {
    for (;;) {
        PumpMessages(st);
        if (unlessStopped && st.RunError == RunStopped) return;
        if (st.clock.NowUs() >= endUs) return;
        BlockOnce(st, endUs, false, countsSilence);
    }
}

int64_t After(Station& st, int64_t us) {
    return st.clock.DeadlineUs(std::max<int64_t>(us, 0));
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

void WaitMs(Station& st, int ms) {
    WaitUntilUs(st, After(st, int64_t{ms} * 1000), false, true);
}

void WaitMsUnlessStopped(Station& st, int ms) {
    WaitUntilUs(st, After(st, int64_t{ms} * 1000), true, true);
}

void PauseUsUnlessStopped(Station& st, int64_t us) {
    WaitUntilUs(st, After(st, us), true, false);
}

int64_t DeadlineAfterMs(Station& st, int ms) {
    return After(st, int64_t{ms} * 1000);
}

void WaitUntil(Station& st, int64_t deadlineUs, bool unlessStopped) {
    WaitUntilUs(st, deadlineUs, unlessStopped, true);
}

void PauseMs(Station& st, int ms) {
    WaitUntilUs(st, After(st, int64_t{ms} * 1000), false, false);
}

void PauseMsUnlessStopped(Station& st, int ms) {
    WaitUntilUs(st, After(st, int64_t{ms} * 1000), true, false);
}

void WaitForOperator(Station& st) {
    BlockOnce(st, NoDeadlineUs, false, false);
}

bool AwaitInput(Station& st, int64_t timeoutUs) {
    const int64_t end = After(st, timeoutUs);
    for (;;) {
        PumpMessages(st);
        if (st.RunError == RunStopped) return false;
        if (st.Comm.InputCount() > 0) return true;
        if (st.clock.NowUs() >= end) return false;
        BlockOnce(st, end, true, true);
    }
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
            if (st.Comm.ReadChar(c)) return c;
        }
        BlockOnce(st, NoDeadlineUs, true, true);
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
        if (c == ack || c == nak) {
            if (c == nak) ++st.ErrorCount;
            return c == ack;
        }
        if (!got) BlockOnce(st, NoDeadlineUs, true, true);
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
        if (st.Comm.InputCount() >= 1 && st.Comm.ReadChar(c) && c == b) return;
    }
}

void DrainInput(Station& st) {
    st.Comm.PurgeAll();
    PauseMs(st, DrainSettleMs);
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
        PauseMs(st, LineSettleMs);
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
    PauseMs(st, LineSettleMs);
}

void PulseReset(Station& st) {
    bool dtr = false, activeAsserted = false;
    if (!ParseLineName(st.Step.ResetSignal, dtr, activeAsserted)) return;
    SetLine(st, dtr, activeAsserted);
    PauseMs(st, ResetPhaseMs);
    SetLine(st, dtr, !activeAsserted);
    PauseMs(st, ResetPhaseMs);
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

// SPDX-License-Identifier: MIT
#include "targets/bootloader/m91360/Boot91360.h"

#include <vector>

#include "run/StepEnding.h"
#include "run/Station.h"
#include "link/Link.h"
#include "targets/bootloader/m91360/Image91360.h"
#include "targets/bootloader/m91360/Texts91360.h"

namespace ps {

namespace {

// The boot ROM's exchanges.
constexpr uint8_t WakeUp = 0x56;        // 'V', sent until the ROM answers
constexpr uint8_t WakeUpAnswer = 0x46;  // 'F'
constexpr uint8_t Attention = 0x01;     // opens every command
constexpr uint8_t AttentionAnswer = 0xF1;
constexpr uint8_t LoadRun = 0x03;  // a run frame follows
constexpr uint8_t LoadRunAnswer = 0x83;
constexpr uint8_t Start = 0x04;  // the start address follows
constexpr uint8_t StartAnswer = 0x84;
constexpr int WakeUpPauseMs = 10;
// A boot ROM that answers every "V" leaves one "F" for each "V" sent before the first "F"
// came back; over an adapter that holds received bytes for 16 ms that is one or two. They
// come within this long of each other, before any command is sent.
constexpr int WakeUpSettleMs = 30;
constexpr int MaxRunBytes = 201;
constexpr int RunReplyBytes = 2;  // sent back after every run frame; their meaning is unused
constexpr uint32_t StartAddress = 0x0003E400;

// Sends "V" every 10 ms until an "F" comes back (an "F" that comes sooner is taken at once;
// the next "V" still keeps the pace). False on STOP.
bool WakeUpRom(Station& st) {
    for (;;) {
        SendByte(st, WakeUp);
        const int64_t next = DeadlineAfterMs(st, WakeUpPauseMs);
        const bool waiting = AwaitInput(st, next - st.clock.NowUs());
        uint8_t c = 0;
        const bool got = waiting && st.Comm.ReadChar(c);
        if (st.RunError == RunStopped) return false;
        if (got && c == WakeUpAnswer) return true;
        WaitUntil(st, next, true);
        if (st.RunError == RunStopped) return false;
    }
}

// The "F"s of surplus "V"s would otherwise be read as the answer to the first command
// ("ERROR F1"). Nothing the ROM says before that command can answer it, so a byte of
// another kind ends the settling as well and is dropped with them.
void DiscardSurplusWakeUps(Station& st) {
    while (AwaitInput(st, int64_t{WakeUpSettleMs} * 1000)) {
        uint8_t c = 0;
        if (!st.Comm.ReadChar(c) || c != WakeUpAnswer) return;
    }
}

// One command byte and the ROM's answer. Any other answer shows `refusal` in a message box
// and ends the run (RunError 1). False then, and on STOP, which shows nothing: the
// meaningless byte of a stopped read is never taken for a refusal.
bool Command(Station& st, uint8_t command, uint8_t answer, const char* refusal) {
    SendByte(st, command);
    const uint8_t reply = ReadByte(st);
    if (st.RunError != RunOk) return false;
    if (reply == answer) return true;
    st.view.ShowMessage(MessageKind::Error, refusal);
    st.RunError = RunStopped;
    return false;
}

void SendRun(Station& st, const Image91360& image, int64_t a, int64_t b) {
    if (!Command(st, Attention, AttentionAnswer, Msg91360ErrorF1) ||
        !Command(st, LoadRun, LoadRunAnswer, Msg91360Error83))
        return;
    std::vector<uint8_t> frame;
    image.AppendRunFrame(frame, a, b);
    SendBlock(st, frame.data(), static_cast<int>(frame.size()));
    for (int i = 0; i < RunReplyBytes && st.RunError == RunOk; ++i) ReadByte(st);
}

}  // namespace

void LoadAndSend91360Boot(Station& st, const std::string& fileName) {
    Image91360 image(st);
    if (!image.Load(fileName)) return;
    for (int64_t a = image.First();;) {
        a = image.NextPresent(a);
        if (a >= image.End()) break;
        const int64_t b = image.RunEnd(a, MaxRunBytes, image.End());
        SendRun(st, image, a, b);
        image.CountRun(a, b);
        if (st.RunError != RunOk) break;
        image.ShowRun(a, b);
        a = b + 1;
    }
    image.ShowRowCounts();
}

void Boot91360Flow(Station& st) {
    ClearRunMap(st);
    st.Status(Msg91360Connecting, StatusColorNormal);
    if (!WakeUpRom(st)) return;
    DiscardSurplusWakeUps(st);
    if (st.RunError != RunOk) return;
    st.AppendStatus(Msg91360Ok);
    st.Status(Msg91360Programming);
    LoadAndSend91360Boot(st, st.Step.ProgramFile);
    // After a refusal, STOP or a bad file the run ends with its own text: never
    // "programed ok!" first.
    if (st.RunError != RunOk) return;
    if (!Command(st, Attention, AttentionAnswer, Msg91360ErrorF1) ||
        !Command(st, Start, StartAnswer, Msg91360Error84))
        return;
    const uint8_t start[4] = {
        static_cast<uint8_t>(StartAddress), static_cast<uint8_t>(StartAddress >> 8),
        static_cast<uint8_t>(StartAddress >> 16), static_cast<uint8_t>(StartAddress >> 24)};
    SendBlock(st, start, 4);
    st.Status(Msg91360ProgramedOk, StatusColorNormal);
    if (!st.Step.AutoContinue) WaitForContinue(st);
}

}  // namespace ps

// SPDX-License-Identifier: MIT
#include "targets/avr/AvrFlow.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <vector>

#include "run/StepEnding.h"
#include "run/Station.h"
#include "run/StepResult.h"
#include "link/Link.h"
#include "targets/avr/AvrImage.h"
#include "targets/avr/FuseBits.h"
#include "targets/avr/SrecToBin.h"

namespace ps {

uint8_t AvrSpeedByte(int32_t speedSet) {
    return speedSet >= 0 && speedSet <= 3 ? static_cast<uint8_t>(speedSet + 1) : 4;
}

namespace {

bool Failed(const Station& st) {
    return st.RunError != RunOk;
}

// Ends the step after a failed identification: a pause to read the text, then the code.
// STOP pressed meanwhile stays the outcome.
void EndIdentification(Station& st, int32_t code) {
    WaitMs(st, AvrErrorPauseMs);
    if (st.RunError == RunOk) st.RunError = code;
}

// Shows an identification failure in red and ends the step with its code.
void IdentificationError(Station& st, const char* text, int32_t code) {
    st.Status(text, StatusColorError);
    PumpMessages(st);
    EndIdentification(st, code);
}

// The last address of the step's range, computed without overflow and kept to 32 bits.
int32_t ClampedRangeEnd(int32_t start, int32_t length) {
    const int64_t end = static_cast<int64_t>(start) + length - 1;
    return static_cast<int32_t>(std::clamp<int64_t>(end, INT32_MIN, INT32_MAX));
}

// Programming mode after the erase: everything up to the 'O' is discarded.
void EnterProgrammingMode(Station& st) {
    SendByte(st, AvrCmdProgMode);
    while (st.RunError == RunOk && ReadByte(st) != AckO) {
    }
}

}  // namespace

void RunAtmelFlow(Station& st) {
    const StepSettings& step = st.Step;
    const int processor = step.AtmelDevice;
    const bool loader = processor == AvrLoader;
    const bool readEeprom = loader && step.AtProgEe == 2;

    const char* actionText = readEeprom ? MsgReading : MsgProgramming;
    const char* resultText = readEeprom ? MsgRead : MsgProgramed;

    // The image is read once, before the board is touched, and programmed and verified
    // from that copy: a missing or malformed file costs the board nothing, and a file
    // replaced during the step (a build writing the next firmware) cannot mix into it.
    // (An EEPROM read writes the file instead.)
    AvrLoadCounts counts;
    if (!step.ProgramFile.empty() && !readEeprom &&
        !LoadAvrHex(st, step.ProgramFile, st.AvrImage, counts)) {
        return;
    }
    if (Failed(st)) return;
    // A range the commands cannot address would erase the chip and write nothing (or
    // something else): refused before anything goes to the board.
    if (const std::string bad = AvrRangeError(step); !bad.empty()) {
        st.Status(bad, StatusColorError);
        st.RunError = RunBadStepValue;
        return;
    }

    // The programmer wants DTR asserted and RTS negated, whatever the boot line left.
    st.Comm.SetDTR(true);
    st.Comm.SetRTS(false);
    WaitMs(st, AvrLineSettleMs);

    st.Status(MsgConnecting, StatusColorNormal);
    PumpMessages(st);
    Handshake(st, AvrCmdConnect, AvrConnectAnswer);
    if (Failed(st)) return;
    st.AppendStatus(MsgOk);

    const uint8_t speed[2] = {AvrCmdSpeed, AvrSpeedByte(step.SpeedSet)};
    SendBlock(st, speed, 2);
    ExpectByte(st, AckO);
    if (Failed(st)) return;

    // Identification. Its handshake ('P' answered by 'O') enters programming mode.
    st.DeviceName.clear();
    st.Status(MsgSearchingAtmel);
    const AvrIdentity id = IdentifyAvr(st);
    st.DeviceName = id.Name;
    bool programmingMode = true;
    if (Failed(st)) return;
    if (id.Index == -1) {
        IdentificationError(st, MsgAtmelIdError, RunAvrId);
    } else if (id.Index == processor) {
        st.AppendStatus(MsgOk);
    } else if (id.Index == AvrIdProtected) {
        st.Status(MsgAtmelProtected, StatusColorError);
        PumpMessages(st);
        // With "/UNLOCK" the erase below clears the protection.
        if (!step.Unlock) EndIdentification(st, RunAvrProtected);
    } else {
        IdentificationError(st, MsgWrongAtmel, RunWrongAvr);
    }
    if (Failed(st)) return;

    if (loader) {
        SendByte(st, AvrCmdVersion);
        std::string version = MsgLoaderVersion;
        // A board that never sends the closing 0x00 (noise, a loader of another kind) must
        // neither grow the text without end nor hold the step: the text is cut and the
        // flow goes on; the unlock below waits for its own answer past any bytes left.
        for (size_t got = 0; got < AvrVersionTextMax; ++got) {
            const uint8_t c = ReadByte(st);
            if (st.RunError != RunOk || c == 0x00) break;
            version += static_cast<char>(c);
        }
        if (Failed(st)) return;
        st.Status(version, StatusColorNormal);
        PumpMessages(st);
        SendText(st, AvrLoaderUnlock);
        ExpectByte(st, AckO);
        if (Failed(st)) return;
        WaitMs(st, AvrLoaderUnlockMs);
    }

    st.Status(MsgErasing, StatusColorNormal);
    PumpMessages(st);
    if (!programmingMode) {
        SendByte(st, AvrCmdProgMode);
        ExpectByte(st, AckO);
        programmingMode = true;
    }
    if (Failed(st)) return;
    if (!loader) EraseMemory(st);  // the loader keeps itself: no chip erase
    if (Failed(st)) return;
    programmingMode = false;
    st.AppendStatus(MsgOk);

    if (step.FusesSet) WriteFuseBits(st, processor, step.FuseBits);
    if (Failed(st)) return;
    st.AppendStatus(MsgOk);

    if (step.Unlock) {
        SendByte(st, AvrCmdReadLock);
        ReadByte(st);  // only read; the write below clears the lock bits
        const uint8_t unlock[4] = {AvrCmdWriteLock, AvrUnlockLockByte, 0x00, 0x00};
        SendBlock(st, unlock, 4);
        ExpectByte(st, AckO);
    }
    if (Failed(st)) return;
    st.Status(actionText);

    st.RangeStart = step.AddrStart;
    st.RangeEnd = ClampedRangeEnd(step.AddrStart, step.AddrLen);

    if (!programmingMode) {
        EnterProgrammingMode(st);
        programmingMode = true;
    }
    if (Failed(st)) return;

    if (!step.ProgramFile.empty()) {
        st.RowByteCounts.fill(0);
        const int rows = st.Map.ShownRows();
        for (int i = 0; i <= rows; ++i) st.ByteLabel(i, "");
        ProgramAvrImage(st, step.ProgramFile, counts);
        // An image error (message box, RunError 12) or STOP ends the step here: never
        // "Programed ok!" after it.
        if (Failed(st)) return;
    }

    // The loader's EEPROM has no checksum command.
    const bool checksum = step.CheckSum && !(loader && (step.AtProgEe == 1 || step.AtProgEe == 2));
    if (checksum) {
        st.Status(MsgVerifying);
        // Checked to fit 16 bits before the step began (AvrRangeError).
        const int64_t end = static_cast<int64_t>(step.AddrStart) + step.AddrLen / 2 - 1;
        const uint8_t command[5] = {AvrCmdChecksum, static_cast<uint8_t>(step.AddrStart >> 8),
                                    static_cast<uint8_t>(step.AddrStart),
                                    static_cast<uint8_t>(end >> 8), static_cast<uint8_t>(end)};
        SendBlock(st, command, 5);
        const uint8_t high = ReadByte(st);
        const uint8_t low = ReadByte(st);
        if (Failed(st)) return;
        st.TargetChecksum = static_cast<uint16_t>(high * 256 + low);
        if (st.TargetChecksum != st.ImageChecksum) {
            st.view.ShowMessage(MessageKind::Error,
                                CheckSumFailText(st.ImageChecksum, st.TargetChecksum));
        }
    }

    if (step.LockSet) WriteLockBits(st, processor, step.LockBits);
    if (Failed(st)) return;
    if (step.RunAddr > 0) RunAtAddress32(st, static_cast<uint32_t>(step.RunAddr));
    if (loader && step.AutoReset) {
        SendByte(st, AvrCmdLeave);
        ExpectByte(st, AckO);
    }
    if (Failed(st)) return;

    if (step.SaveImage && step.AddrLen > 0) {
        SrecToBin(st, step.ProgramFile, ImageCopyName(st.CurrentStep));
        if (Failed(st)) return;
    }

    ShowStepResult(st, std::string(resultText) + MsgResultOk, checksum);

    if (!step.AutoContinue && !WaitForContinue(st)) return;
    if (step.AutoReset) {
        SetBootLine(st, RunLevel);
        PulseReset(st);
    }
}

}  // namespace ps

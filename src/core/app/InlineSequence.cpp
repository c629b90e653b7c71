// SPDX-License-Identifier: MIT
#include "app/InlineSequence.h"

#include <cstdio>

#include "app/Boot574Transfer.h"
#include "app/EmulatorTransfer.h"
#include "app/InlineTransfer.h"
#include "app/Models.h"
#include "app/MotorolaLoader.h"
#include "app/SharcBootFlashTransfer.h"
#include "run/Station.h"
#include "run/StepResult.h"
#include "run/Texts.h"
#include "images/ImageFile.h"
#include "link/Link.h"
#include "targets/avr/SrecToBin.h"
#include "targets/bootloader/sharc/Bridge.h"
#include "targets/bootloader/sharc/RangeCrc.h"

namespace ps {

namespace {

constexpr uint8_t SimulateFlashAsk = 0x4D;  // 'M'
constexpr uint8_t SyncAsk = 0x73;           // 's'
constexpr uint8_t SyncAnswer = 0x69;        // 'i'
constexpr uint8_t ReadLockAsk = 0x6C;       // 'l'
constexpr int ErrorPauseMs = 500;

// The boot flash of a "SHARC-Boot flash" board takes writes once the operator has moved its
// jumper and the DSP has been told so.
constexpr uint8_t FlashModeAsk = 0x46;  // 'F', then 0x08
constexpr uint8_t FlashModeArg = 0x08;
constexpr uint8_t FlashModeAnswer = 0x69;  // 'i'

constexpr int ModelMotorola = 1;
constexpr int ModelEmulator = 5;
constexpr int ModelSharcBootFlash = 8;
constexpr int Model574 = 10;

// The models with an image transfer of their own: how their file is checked and sent,
// its default extension, and whether their target answers a checksum command.
struct Transfer {
    int32_t Model;
    bool (*Check)(Station&, const std::string&);
    void (*Send)(Station&, const std::string&);
    const char* Extension;
    bool HasChecksum;
};
// clang-format off
constexpr Transfer Transfers[] = {
    //  model                 check                       send                          extension          checksum
    {ModelMotorola,       &CheckMotorolaImage,       &LoadMotorolaImage,           IntelHexExtension, true},
    {ModelEmulator,       &CheckEmulatorImage,       &TransferEmulatorImage,       IntelHexExtension, false},
    {ModelSharcBootFlash, &CheckSharcBootFlashImage, &TransferSharcBootFlashImage, IntelHexExtension, true},
    {Model574,            &CheckBoot574Image,        &TransferBoot574Image,        SrecExtension,     false},
};
// clang-format on

const Transfer* TransferFor(int32_t model) {
    for (const Transfer& t : Transfers)
        if (t.Model == model) return &t;
    return nullptr;
}

// Bit k of a bit text padded with '0': true when it is '1'.
bool Bit(const std::string& text, size_t k) {
    return k < text.size() && text[k] == '1';
}

uint8_t Bits(const std::string& t, uint8_t start,
             std::initializer_list<std::pair<int, uint8_t>> map) {
    for (const auto& [pos, value] : map)
        if (Bit(t, static_cast<size_t>(pos))) start |= value;
    return start;
}

void Send(Station& st, const std::string& bytes) {
    SendBlock(st, reinterpret_cast<const uint8_t*>(bytes.data()), static_cast<int>(bytes.size()));
}

bool Stopped(const Station& st) {
    return st.RunError != RunOk;
}

// Shows an identification failure, pauses so the operator can read it, and ends the run.
void Fail(Station& st, const char* text, int32_t code) {
    st.Status(text, StatusColorError);
    PumpMessages(st);
    WaitMs(st, ErrorPauseMs);
    st.RunError = code;
}

void CheckDevice(Station& st) {
    st.Status(TextSearchingAtmel);
    const AvrIdentity id = IdentifyAvr(st);
    if (st.RunError == RunStopped) return;
    if (id.Name == "ERROR") {
        Fail(st, TextAtmelIdError, RunAvrId);
    } else if (id.Index == st.Step.AtmelDevice) {
        st.AppendStatus(TextOk);
    } else if (id.Index == 999) {
        st.Status(TextAtmelProtected, StatusColorError);
        PumpMessages(st);
        if (!st.Step.Unlock) {
            WaitMs(st, ErrorPauseMs);
            st.RunError = RunAvrProtected;
        }
    } else {
        Fail(st, TextWrongAtmel, RunWrongAvr);
    }
}

void SendCommandAndAck(Station& st, const std::string& command) {
    if (command.empty()) return;
    Send(st, command);
    ExpectByte(st, AckO);
}

std::string Be32(uint32_t v) {
    return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
            static_cast<char>(v)};
}

void ReadTargetChecksum(Station& st) {
    const std::string frame = KFrame(
        '4', Be32(static_cast<uint32_t>(st.RangeStart)) + Be32(static_cast<uint32_t>(st.RangeEnd)));
    SendChars(st, reinterpret_cast<const uint8_t*>(frame.data()), static_cast<int>(frame.size()));
    const uint8_t high = ReadByte(st);
    const uint8_t low = ReadByte(st);
    ReadByte(st);  // a third byte that carries nothing we use
    st.TargetChecksum = static_cast<uint16_t>(high * 256 + low);
}

}  // namespace

std::string InlineFuseCommand(int processor, const std::string& fuseBits, bool high) {
    const std::string& t = fuseBits;  // positions past the text count as '0'
    const uint8_t low =
        Bits(t, 0x30, {{0, 0x01}, {1, 0x02}, {2, 0x04}, {3, 0x08}, {4, 0x40}, {5, 0x80}}) ^ 0xCF;
    switch (processor) {
        case 1:
            if (high) return {};
            return {
                'F',
                static_cast<char>(
                    Bits(t, 0xA0, {{0, 0x01}, {1, 0x02}, {2, 0x04}, {4, 0x08}, {5, 0x10}}) ^ 0x1F),
                '\0', '\0'};
        case 2:
            if (!high) return {'F', static_cast<char>(0xA0), '\0', static_cast<char>(low)};
            return {'H',
                    static_cast<char>(Bits(t, 0xF8, {{6, 0x01}, {7, 0x02}, {8, 0x04}}) ^ 0x07)};
        case 5:
        case 6:
        case 7:
            if (!high) return {'F', static_cast<char>(0xA0), '\0', static_cast<char>(low)};
            return {'H',
                    static_cast<char>(
                        Bits(t, 0x30,
                             {{6, 0x01}, {7, 0x02}, {8, 0x04}, {9, 0x08}, {10, 0x40}, {11, 0x80}}) ^
                        0xCF)};
        default:
            return {};
    }
}

std::string InlineLockCommand(int processor, const std::string& lockBits) {
    const std::string& t = lockBits;
    const uint8_t six =
        Bits(t, 0xC0, {{0, 0x01}, {1, 0x02}, {2, 0x04}, {3, 0x08}, {4, 0x10}, {5, 0x20}}) ^ 0x3F;
    switch (processor) {
        case 0:
            return {'L', static_cast<char>(Bits(t, 0xE0, {{0, 0x02}, {1, 0x04}})), '\0', '\0'};
        case 1:
            return {'L', static_cast<char>(Bits(t, 0xF9, {{0, 0x02}, {1, 0x04}}) ^ 0x06), '\0',
                    '\0'};
        case 2:
        case 5:
        case 6:
        case 7:
            return {'L', static_cast<char>(0xE0), '\0', static_cast<char>(six)};
        case 4:
            return {'L', static_cast<char>(six)};
        default:
            return {};
    }
}

void RunInlineSequence(Station& st) {
    const StepSettings& s = st.Step;
    const Transfer* transfer = TransferFor(s.ModelIndex);

    // The 574 boot loader and the emulator have no checksum command: a "/CHECKSUM" there
    // could only compare against a value no one computed. Refused before anything is sent.
    if (s.CheckSum && transfer && !transfer->HasChecksum) {
        st.Status(TextNoCheckSumFor + std::string(ModelName(s.ModelIndex)), StatusColorError);
        st.RunError = RunBadStepValue;
        return;
    }
    // A step compares only what it computed itself, never a value an earlier step left.
    st.ImageChecksum = 0;
    // A missing or malformed image must not cost the board its program: the whole file is
    // read before anything is sent, erased or unlocked.
    if (transfer && !s.ProgramFile.empty() && !transfer->Check(st, s.ProgramFile)) return;

    if (s.ModelIndex == ModelSharcBootFlash) {
        if (!UnlockSharcBridge(st)) return;
        PassThroughToDsp(st, s.Sinhro);
        if (!UnlockSharcDsp(st)) return;
    }
    if (s.SimulateFlash) {
        SendByte(st, SimulateFlashAsk);
        ExpectByte(st, SyncAnswer);
        if (Stopped(st)) return;
    }
    if (s.Sinhro) {
        st.Status(TextConnecting, StatusColorNormal);
        PumpMessages(st);
        if (s.ModelIndex == Model574)
            Handshake(st, Boot574Ready, Boot574ReadyAnswer);
        else
            Handshake(st, SyncAsk, SyncAnswer);
        if (Stopped(st)) return;
        st.AppendStatus(TextOk);
    }
    if (s.ModelIndex == ModelSharcBootFlash) {
        // The boot flash takes writes only with its jumper moved; the operator says when.
        st.view.ShowMessage(MessageKind::Information, TextSwapJumper);
        const uint8_t flashMode[2] = {FlashModeAsk, FlashModeArg};
        SendBlock(st, flashMode, 2);
        ExpectByte(st, FlashModeAnswer);
        if (Stopped(st)) return;
    }
    st.DeviceName.clear();
    if (s.DevCheck) {
        CheckDevice(st);
        if (Stopped(st)) return;
    }
    if (s.FusesSet) {
        SendCommandAndAck(st, InlineFuseCommand(s.AtmelDevice, s.FuseBits, false));
        if (Stopped(st)) return;
        SendCommandAndAck(st, InlineFuseCommand(s.AtmelDevice, s.FuseBits, true));
        if (Stopped(st)) return;
    }
    if (s.FlashId) {
        st.DeviceName = IdentifyFlash(st);
        if (st.RunError == RunStopped) return;
        if (st.DeviceName == "ERROR")
            Fail(st, TextFlashIdError, RunFlashOrFlow);
        else
            st.AppendStatus(TextOk);
        if (Stopped(st)) return;
    }
    st.AppendStatus(TextOk);

    if (s.EraseRam) {
        st.Status(TextErasingRam);
        EraseRange(st, static_cast<uint16_t>(s.AddrStart), static_cast<uint16_t>(s.AddrLen));
        if (Stopped(st)) return;
    }
    if (s.EraseSectors >= 0 || s.EraseFlash) {
        st.Status(TextErasingMemory, StatusColorNormal);
        PumpMessages(st);
        if (s.EraseSectors >= 0) SendEraseSectors(st, static_cast<uint16_t>(s.EraseSectors));
        if (Stopped(st)) return;
        if (s.EraseFlash) EraseMemory(st);
        if (Stopped(st)) return;
        st.AppendStatus(TextOk);
    }
    if (s.Unlock) {
        SendByte(st, ReadLockAsk);
        ReadByte(st);
        SendCommandAndAck(st, std::string{'L', static_cast<char>(0xE0), '\0', '\0'});
        if (Stopped(st)) return;
    }
    if (!st.DeviceName.empty()) st.DeviceName += ":  ";
    st.Status(st.DeviceName + TextProgramming);
    st.RangeStart = s.AddrStart;
    st.RangeEnd = s.AddrStart + s.AddrLen - 1;

    if (!s.ProgramFile.empty()) {
        st.RowByteCounts.fill(0);
        for (int i = 0; i <= st.Map.ShownRows(); ++i) st.ByteLabel(i, "");
        if (transfer) transfer->Send(st, s.ProgramFile);  // "None" has no loader
        // A bad file, STOP or a lost board ends the step here: never a result after it.
        if (Stopped(st)) return;
    }
    if (s.CheckSum) {
        st.Status(st.DeviceName + TextVerifying);
        if (s.ModelIndex == ModelSharcBootFlash) {
            const uint32_t crc = RangeCrc(st, static_cast<uint32_t>(st.RangeStart),
                                          static_cast<uint32_t>(st.RangeEnd));
            st.TargetChecksum = static_cast<uint16_t>(crc & 0xFFFF);
        } else {
            ReadTargetChecksum(st);
        }
        if (Stopped(st)) return;
        if (st.TargetChecksum != st.ImageChecksum)
            st.view.ShowMessage(MessageKind::Error,
                                CheckSumFailText(st.ImageChecksum, st.TargetChecksum));
    }
    if (s.LockSet) {
        SendCommandAndAck(st, InlineLockCommand(s.AtmelDevice, s.LockBits));
        if (Stopped(st)) return;
    }
    if (s.RunAddr > 0)
        RunAtAddress32(st, static_cast<uint32_t>(s.RunAddr));
    else if (s.ModelIndex == ModelMotorola)
        StartProgram(st);  // a refusal counts one error
    if (Stopped(st)) return;

    // A copy needs an image to copy: a step without one (the run-wide "/SAVE" carried over
    // from an earlier step) has nothing to save. The copy reads the file the loader read.
    if (s.SaveImage && s.AddrLen > 0 && !s.ProgramFile.empty()) {
        const char* extension = transfer ? transfer->Extension : IntelHexExtension;
        SrecToBin(st, ResolveImageName(s.ProgramFile, extension), ImageCopyName(st.CurrentStep));
    }
}

}  // namespace ps

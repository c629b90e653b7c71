// SPDX-License-Identifier: MIT
#include "targets/avr/FuseBits.h"

#include <initializer_list>
#include <utility>

#include "run/Station.h"
#include "link/Link.h"

namespace ps {

namespace {

// c(k) of the padded text, counting from 1 as the conversion table does.
std::string Chars(const std::string& padded, int first, int last) {
    return padded.substr(static_cast<size_t>(first - 1), static_cast<size_t>(last - first + 1));
}

bool Ticked(const std::string& bits, size_t position) {
    return position < bits.size() && bits[position] == '1';
}

// base, then each (position -> mask) or-ed in when that bit character is "1".
uint8_t Collect(const std::string& bits, uint8_t base,
                std::initializer_list<std::pair<int, uint8_t>> masks) {
    uint8_t value = base;
    for (const auto& [position, mask] : masks) {
        if (Ticked(bits, static_cast<size_t>(position))) value |= mask;
    }
    return value;
}

constexpr const char* FuseTextPadding = "0000000000000000";  // sixteen
constexpr const char* LockTextPadding = "00000000000000";    // fourteen

// Lock bits 1 and 2, then the four boot lock bits, as the mega lock byte holds them.
uint8_t MegaLockByte(const std::string& bits) {
    return Collect(bits, 0xC0, {{0, 0x01}, {1, 0x02}, {2, 0x04}, {3, 0x08}, {4, 0x10}, {5, 0x20}}) ^
           0x3F;
}

// The low fuse of the ATmega163 and ATmega323.
uint8_t Mega163LowFuse(const std::string& p) {
    return Collect(p, 0x30, {{0, 0x01}, {1, 0x02}, {2, 0x04}, {3, 0x08}, {6, 0x40}, {7, 0x80}}) ^
           0xCF;
}

}  // namespace

std::string FuseStringToBits(int processor, const std::string& text) {
    const std::string c = text + "00000000000000000000";  // twenty
    switch (processor) {
        case AvrAT90S4433:
            return "N" + Chars(c, 1, 3) + "000" + Chars(c, 4, 5) + "00000000";
        case AvrATmega163:
        case AvrATtiny12:
        case AvrLoader:
            return "N" + Chars(c, 1, 4) + "00" + Chars(c, 5, 9) + "00000";
        case AvrATmega323:
            return "N" + Chars(c, 1, 4) + "00" + Chars(c, 5, 10) + "00" + Chars(c, 11, 12);
        case AvrATmega32:
        case AvrATmega16:
            return "N" + Chars(c, 1, 16);
        default:
            return c;
    }
}

std::string PrepareFuseText(int processor, const std::string& fuses) {
    std::string t = fuses + FuseTextPadding;
    if (t[0] != 'N') t = FuseStringToBits(processor, t);
    if (!t.empty() && t[0] == 'N') t.erase(0, 1);
    return t;
}

std::vector<FuseCommand> FuseCommands(int processor, const std::string& fuses) {
    const std::string p = PrepareFuseText(processor, fuses);
    std::vector<FuseCommand> commands;
    switch (processor) {
        case AvrAT90S4433: {
            const uint8_t b =
                Collect(p, 0xA0, {{0, 0x01}, {1, 0x02}, {2, 0x04}, {6, 0x08}, {7, 0x10}}) ^ 0x1F;
            commands.push_back({{AvrCmdWriteFuses, b, 0x00, 0x00}});
            break;
        }
        case AvrATmega163: {
            const uint8_t hi = Collect(p, 0xF8, {{8, 0x01}, {9, 0x02}, {10, 0x04}}) ^ 0x07;
            commands.push_back({{AvrCmdWriteFuses, 0xA0, 0x00, Mega163LowFuse(p)}});
            commands.push_back({{AvrCmdWriteHighFuses, hi}});
            break;
        }
        case AvrATmega323: {
            const uint8_t hi =
                Collect(p, 0x30,
                        {{8, 0x01}, {9, 0x02}, {10, 0x04}, {11, 0x08}, {14, 0x40}, {15, 0x80}}) ^
                0xCF;
            commands.push_back({{AvrCmdWriteFuses, 0xA0, 0x00, Mega163LowFuse(p)}});
            commands.push_back({{AvrCmdWriteHighFuses, hi}});
            break;
        }
        case AvrATmega32:
        case AvrATmega16: {
            uint8_t lo = 0;
            uint8_t hi = 0;
            for (int bit = 0; bit < 8; ++bit) {
                if (Ticked(p, static_cast<size_t>(bit))) lo |= static_cast<uint8_t>(1u << bit);
                if (Ticked(p, static_cast<size_t>(bit + 8))) hi |= static_cast<uint8_t>(1u << bit);
            }
            lo ^= 0xFF;
            hi ^= 0xFF;
            commands.push_back({{AvrCmdWriteFuses, 0xA0, 0x00, lo}, true, AvrCmdReadFuses, lo});
            commands.push_back({{AvrCmdWriteHighFuses, hi}, true, AvrCmdReadHighFuses, hi});
            break;
        }
        default:
            break;
    }
    return commands;
}

std::vector<uint8_t> LockCommand(int processor, const std::string& lock) {
    const std::string p = lock + LockTextPadding;
    switch (processor) {
        case AvrAT90S2313:
            return {AvrCmdWriteLock, Collect(p, 0xE0, {{0, 0x02}, {1, 0x04}}), 0x00, 0x00};
        case AvrAT90S4433:
            return {AvrCmdWriteLock,
                    static_cast<uint8_t>(Collect(p, 0xF9, {{0, 0x02}, {1, 0x04}}) ^ 0x06), 0x00,
                    0x00};
        case AvrATmega163:
        case AvrATmega323:
        case AvrATmega32:
        case AvrATmega16:
            return {AvrCmdWriteLock, 0xE0, 0x00, MegaLockByte(p)};
        case AvrLoader:
            return {AvrCmdWriteLock, MegaLockByte(p)};
        default:
            return {};
    }
}

void WriteFuseBits(Station& st, int processor, const std::string& fuses) {
    for (const FuseCommand& command : FuseCommands(processor, fuses)) {
        SendBlock(st, command.Frame.data(), static_cast<int>(command.Frame.size()));
        ExpectByte(st, AckO);
        if (st.RunError != RunOk) return;
        if (!command.ReadBack) continue;
        SendByte(st, command.ReadCommand);
        const uint8_t stored = ReadByte(st);
        // After STOP the byte read is meaningless: STOP is the outcome, not a fuse fault.
        if (st.RunError != RunOk) return;
        if (stored != command.Expected) {
            st.Status(MsgFuseWriteError, StatusColorError);
            PumpMessages(st);
            st.RunError = RunFlashOrFlow;
            return;
        }
    }
}

void WriteLockBits(Station& st, int processor, const std::string& lock) {
    const std::vector<uint8_t> frame = LockCommand(processor, lock);
    if (frame.empty()) return;
    SendBlock(st, frame.data(), static_cast<int>(frame.size()));
    ExpectByte(st, AckO);
}

}  // namespace ps

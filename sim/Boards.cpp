// SPDX-License-Identifier: MIT
#include "sim/Boards.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>

#include "sim/AvrBoard.h"
#include "sim/Boot574Board.h"
#include "sim/Boot91360Board.h"
#include "sim/EmulatorBoard.h"
#include "sim/GenericBoard.h"
#include "sim/IntelBootBoard.h"
#include "sim/IntelFlashBoard.h"
#include "sim/IntelRamBoard.h"
#include "sim/InfineonBoard.h"
#include "sim/Loader91360Board.h"
#include "sim/MotorolaBoard.h"
#include "sim/SharcBootFlashBoard.h"
#include "sim/SharcHostBootBoard.h"
#include "sim/SharcSplitBoard.h"
#include "sim/SimPortDevice.h"

namespace ps::sim {

// ---- the board table: one row per board ----

const std::vector<BoardType>& BoardTypes() {
    static const std::vector<BoardType> types = {
        // name      help line                                                       maker
        {"generic",
         "answers the common link exchanges (handshakes, bank port, flash and AVR ids, erase, "
         "run, \"K\" frames); flash=N code, sig=HHHHHH AVR signature, sum=HHHH checksum",
         &MakeGenericBoard},
        {"avr",
         "AVR programmer with its target AVR, or the AVR loader (proc=4); proc=N 0..7 (default "
         "6, ATmega32), sig=HHHHHH, protected, fusestuck[=high], weakcell=N, eeprom=N",
         &MakeAvrBoard},
        {"motorola",
         "resident S-record loader of a MOTOROLA board: S2 records into flash, \"K\" frames, "
         "checksum from its memory; memory=N, flash=N code, sig=HHHHHH, weakcell=N",
         &MakeMotorolaBoard},
        {"574boot", "574 boot loader: ready 0x18/0x11, S1 frames with their sum, end frame",
         &MakeBoot574Board},
        {"sharcboot",
         "AVR bridge and DSP of a SHARC-Boot flash board: escaped records into the boot flash, "
         "range sum; dsprefuses (the DSP answers \"KBoTaps\" with E)",
         &MakeSharcBootFlashBoard},
        {"emulator", "emulator: 'A' records into its memory, 'R' runs, chatters '.'; quiet",
         &MakeEmulatorBoard},
        {"intelboot",
         "INTEL - BOOT: boot monitor taking bare 256-byte blocks back to back, no answers",
         &MakeIntelBootBoard},
        {"intelram",
         "INTEL - LOADER RAM: RAM loader of 64 KB with range erase, acknowledged blocks and "
         "run at address",
         &MakeIntelRamBoard},
        {"intelflash",
         "INTEL - LOADER FLASH: banked flash loader (16 KB banks, the last one in the common "
         "window); flash=N chip code (default 5, 256 KB), banks=N 1..16",
         &MakeIntelFlashBoard},
        {"sharcsplit",
         "SHARC board's AVR bridge with the DSP's split-flash loader (page CRCs, page erase, "
         "records); usb (behind a USB serial bridge), refuse=sharc, nak=N, blank",
         &MakeSharcSplitBoard},
        {"sharchost",
         "SHARC board's AVR bridge taking a host-boot stream with XOFF/XON; rate=N (DSP "
         "bytes/s, 0 keeps up), xoff=N, xon=N, buffer=N, queue=N (station's port), noxon",
         &MakeSharcHostBootBoard},
        {"91360-boot",
         "boot ROM of a 91360 target: wakes on \"V\", loads run frames into memory, starts the "
         "program; refuse=01|03|04 answers that command with 0x15",
         &MakeBoot91360Board},
        {"91360-loader",
         "flash loader of a 91360 board (2 x 256 KB at 0x180000, 14 sectors): erase, sector erase "
         "by mask, range CRC, runs within a sector; blank, refuse=erase|sectors|write, "
         "weakcell=ADDR",
         &MakeLoader91360Board},
        {"infineon",
         "Infineon XC161CJ: bootstrap loader, boot program, loader1 and loader2 over internal and "
         "external flash; ext=ADDR external flash base (default 0x400000), quiet=boot|loader1|"
         "fill|loader2|program stays silent there, badcheck=fill|program answers one check wrong",
         &MakeInfineonBoard},
        // A new board adds its row here.
    };
    return types;
}

std::vector<std::pair<std::string, std::string>> BoardHelp() {
    std::vector<std::pair<std::string, std::string>> out;
    for (const BoardType& t : BoardTypes()) out.emplace_back(t.Name, t.Help);
    return out;
}

std::vector<std::pair<std::string, std::string>> FaultOptionHelp() {
    return {
        {"silent", "answers nothing at all"},
        {"negative", "answers \"no\" where the protocol has one"},
        {"noise", "stray bytes before answers (the same on every run)"},
        {"late=MS", "every answer comes MS milliseconds later"},
        {"drop=N", "the port vanishes after N bytes from the station"},
        {"dump=FILE", "when the port closes, write the board's memory to FILE and its address "
                      "and length as one line of JSON to FILE.json"},
    };
}

std::string DescribeFaults(const Faults& f) {
    std::string out;
    if (f.Silent) out += ", silent";
    if (f.Negative) out += ", negative";
    if (f.Noise) out += ", noise";
    if (f.LateMs > 0) out += ", late=" + std::to_string(f.LateMs);
    if (f.DropAfterBytes >= 0) out += ", drop=" + std::to_string(f.DropAfterBytes);
    return out;
}

// ---- options ----

namespace {
constexpr long MaxLateMs = 600000;
constexpr long MaxDropBytes = 1000000000;

std::string Trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
    return s.substr(b, e - b);
}

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string OptionText(const BoardOption& o) {
    return o.HasValue ? o.Key + "=" + o.Value : o.Key;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::string BoardNames() {
    std::string out;
    for (const BoardType& t : BoardTypes()) out += (out.empty() ? "" : ", ") + std::string(t.Name);
    return out;
}

// Takes a fault option into `faults`; false when the option is not a fault option.
bool TakeFault(const BoardOption& o, Faults& faults, bool& ok, std::string& error) {
    ok = true;
    long n = 0;
    bool* flag = o.Key == "silent"     ? &faults.Silent
                 : o.Key == "negative" ? &faults.Negative
                 : o.Key == "noise"    ? &faults.Noise
                                       : nullptr;
    if (flag) {
        if (o.HasValue) {
            error = "option \"" + o.Key + "\" takes no value: \"" + OptionText(o) + "\"";
            ok = false;
        }
        *flag = true;
        return true;
    }
    if (o.Key == "late") {
        ok = OptionNumber(o, 0, MaxLateMs, n, error);
        faults.LateMs = static_cast<int>(n);
        return true;
    }
    if (o.Key == "drop") {
        ok = OptionNumber(o, 0, MaxDropBytes, n, error);
        faults.DropAfterBytes = n;
        return true;
    }
    return false;
}
}  // namespace

bool OptionNumber(const BoardOption& o, long min, long max, long& out, std::string& error) {
    const std::string& v = o.Value;
    bool hex = v.size() > 2 && v[0] == '0' && (v[1] == 'x' || v[1] == 'X');
    const std::string digits = hex ? v.substr(2) : v;
    bool ok = o.HasValue && !digits.empty() && digits.size() <= 12;
    long n = 0;
    for (char c : digits) {
        const int d = hex ? HexDigit(c) : (c >= '0' && c <= '9' ? c - '0' : -1);
        if (d < 0) {
            ok = false;
            break;
        }
        n = n * (hex ? 16 : 10) + d;
    }
    if (!ok || n < min || n > max) {
        error = "option \"" + o.Key + "\" needs a number from " + std::to_string(min) + " to " +
                std::to_string(max) + ": \"" + OptionText(o) + "\"";
        return false;
    }
    out = n;
    return true;
}

bool OptionHexBytes(const BoardOption& o, size_t count, std::vector<uint8_t>& out,
                    std::string& error) {
    std::string v = o.Value;
    if (v.size() > 2 && v[0] == '0' && (v[1] == 'x' || v[1] == 'X')) v = v.substr(2);
    bool ok = o.HasValue && v.size() == 2 * count;
    out.clear();
    for (size_t i = 0; ok && i < count; ++i) {
        const int hi = HexDigit(v[2 * i]), lo = HexDigit(v[2 * i + 1]);
        if (hi < 0 || lo < 0)
            ok = false;
        else
            out.push_back(static_cast<uint8_t>(hi << 4 | lo));
    }
    if (!ok) {
        error = "option \"" + o.Key + "\" needs " + std::to_string(2 * count) +
                " hexadecimal digits: \"" + OptionText(o) + "\"";
        return false;
    }
    return true;
}

std::string UnknownOptionError(const std::string& board, const BoardOption& o) {
    return "board \"" + board + "\" has no option \"" + OptionText(o) + "\"";
}

// ---- making boards ----

std::unique_ptr<Board> MakeBoard(const std::string& spec, std::string& error) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t comma = spec.find(',', start);
        parts.push_back(Trim(
            spec.substr(start, comma == std::string::npos ? std::string::npos : comma - start)));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    const std::string name = Lower(parts[0]);
    const BoardType* type = nullptr;
    for (const BoardType& t : BoardTypes())
        if (name == t.Name) type = &t;
    if (!type) {
        error =
            (name.empty() ? std::string("no board named") : "unknown board \"" + parts[0] + "\"") +
            " (boards: " + BoardNames() + ")";
        return nullptr;
    }

    Faults faults;
    std::string dumpFile;
    BoardOptions own;
    for (size_t i = 1; i < parts.size(); ++i) {
        if (parts[i].empty()) continue;  // "generic,,silent" or a trailing comma
        BoardOption o;
        const size_t eq = parts[i].find('=');
        o.Key = Lower(Trim(parts[i].substr(0, eq)));
        if (eq != std::string::npos) {
            o.HasValue = true;
            o.Value = Trim(parts[i].substr(eq + 1));
        }
        bool ok = true;
        if (o.Key == "dump") {
            if (!o.HasValue || o.Value.empty()) {
                error = "option \"dump\" needs a file name: \"" + OptionText(o) + "\"";
                return nullptr;
            }
            dumpFile = o.Value;
        } else if (TakeFault(o, faults, ok, error)) {
            if (!ok) return nullptr;
        } else {
            own.push_back(o);
        }
    }
    std::unique_ptr<Board> board = type->Make(own, error);
    if (!board) return nullptr;
    board->faults = faults;
    board->DumpFile = dumpFile;
    return board;
}

// ---- the pool of simulated ports ----

std::unique_ptr<PortDevice> SimPortPool::MakeDevice(const std::string& spec) {
    auto it = wires_.find(spec);
    if (it == wires_.end()) {
        std::string error;
        std::unique_ptr<Board> board = MakeBoard(spec, error);
        if (!board) {
            lastError_ = error;
            return nullptr;
        }
        auto wire = std::make_shared<Wire>(clock_, std::move(board), "sim:" + spec);
        wire->SetRecording(RecordTranscripts);
        it = wires_.emplace(spec, std::move(wire)).first;
    }
    lastError_.clear();
    return std::make_unique<SimPortDevice>(it->second);
}

std::shared_ptr<Wire> SimPortPool::Find(const std::string& spec) const {
    auto it = wires_.find(spec);
    return it == wires_.end() ? nullptr : it->second;
}

std::function<std::unique_ptr<PortDevice>(const std::string&)> SimPortPool::Factory() {
    return [this](const std::string& spec) { return MakeDevice(spec); };
}

std::function<std::unique_ptr<PortDevice>(const std::string&)> SimDeviceFactory(Clock& clock) {
    auto pool = std::make_shared<SimPortPool>(clock);
    pool->RecordTranscripts = false;
    return [pool](const std::string& spec) { return pool->MakeDevice(spec); };
}

}  // namespace ps::sim

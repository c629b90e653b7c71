// SPDX-License-Identifier: MIT
#include "projects/StepFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <ctime>
#include <iterator>
#include <memory>
#include <mutex>

namespace ps {
namespace {

// Model keys in the order they are tested; the position + 1 is the ModelIndex.
constexpr const char* ModelKeys[ModelKeyCount] = {
    "/P=",   "/PB=",  "/PL=",  "/PF=",  "/PE=",  "/PS=", "/PA=",
    "/PSB=", "/PSH=", "/PAB=", "/PFB=", "/PFL=", "/P13="};

enum class ValueKind { Text, Number, BankPort, StrictNumber };

struct ValueKey {
    const char* Key;
    ValueKind Kind;
    std::string StepSettings::*Text;
    int32_t StepSettings::*Number;
};

// Value keys after the model keys, in the order they are tested.
const ValueKey ValueKeys[] = {
    {"/BAUDRATE=", ValueKind::Text, &StepSettings::BaudRate, nullptr},
    {"/ADDREXTFLASH=", ValueKind::Number, nullptr, &StepSettings::AddrExtFlash},
    {"/ADDRSTART=", ValueKind::Number, nullptr, &StepSettings::AddrStart},
    {"/AT_PROG_EE=", ValueKind::StrictNumber, nullptr, &StepSettings::AtProgEe},
    {"/ADDRLEN=", ValueKind::Number, nullptr, &StepSettings::AddrLen},
    {"/BLOCKLEN=", ValueKind::Number, nullptr, &StepSettings::BlockLen},
    {"/BLOCKSONROW=", ValueKind::Number, nullptr, &StepSettings::BlocksOnRow},
    {"/RUNADDR=", ValueKind::Number, nullptr, &StepSettings::RunAddr},
    {"/ERASESECTORS=", ValueKind::Number, nullptr, &StepSettings::EraseSectors},
    {"/SPEEDSET=", ValueKind::Number, nullptr, &StepSettings::SpeedSet},
    {"/BOOTSIGNAL=", ValueKind::Text, &StepSettings::BootSignal, nullptr},
    {"/RESETSIGNAL=", ValueKind::Text, &StepSettings::ResetSignal, nullptr},
    {"/BANKPORT=", ValueKind::BankPort, nullptr, nullptr},
    {"/ATMEL=", ValueKind::Number, nullptr, &StepSettings::AtmelDevice},
    {"/LOCK=", ValueKind::Text, &StepSettings::LockBits, nullptr},
    {"/FUSES=", ValueKind::Text, &StepSettings::FuseBits, nullptr},
};

struct FlagKey {
    const char* Key;
    bool StepSettings::*Flag;
};

// Flags before the port flags, then after them; a flag matches the whole line only.
const FlagKey FlagsBeforePorts[] = {
    {"/RESET", &StepSettings::Reset},           {"/BOOT", &StepSettings::Boot},
    {"/SINHRO", &StepSettings::Sinhro},         {"/DEVCHECK", &StepSettings::DevCheck},
    {"/ERASERAM", &StepSettings::EraseRam},     {"/SIMULATEFLASH", &StepSettings::SimulateFlash},
    {"/ERASEFLASH", &StepSettings::EraseFlash}, {"/AUTOERASE", &StepSettings::AutoErase},
    {"/FLASHID", &StepSettings::FlashId},
};
const FlagKey FlagsAfterPorts[] = {
    {"/CHECKSUM", &StepSettings::CheckSum},   {"/TESTINT", &StepSettings::TestInt},
    {"/TESTEXT", &StepSettings::TestExt},     {"/USB", &StepSettings::Usb},
    {"/AUTORESET", &StepSettings::AutoReset}, {"/AUTOCONTINUE", &StepSettings::AutoContinue},
    {"/SAVE", &StepSettings::SaveImage},      {"/S", &StepSettings::SkipStep},
    {"/UNLOCK", &StepSettings::Unlock},       {"/FUSESSET", &StepSettings::FusesSet},
    {"/LOCKSET", &StepSettings::LockSet},
};

constexpr const char* PortFlagPrefix = "/COM";
constexpr int MaxPortFlag = 10;

bool StartsWith(const std::string& line, std::string_view key) {
    return line.size() >= key.size() && line.compare(0, key.size(), key) == 0;
}

char UpperAscii(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// A line as it may be shown on one status line: control bytes become '?', long lines are
// cut.
std::string ShowableLine(const std::string& line) {
    std::string shown = line.substr(0, LoadErrorLineLimit);
    for (char& c : shown) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) c = '?';
    }
    if (line.size() > LoadErrorLineLimit) shown += "...";
    return shown;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// The next line of a step file's text from `pos`: CR or CR LF ends a line, a lone LF
// stays in the line. The text is already cut at its 0x1A. False at the end of the text.
bool NextLine(std::string_view text, size_t& pos, std::string_view& line) {
    if (pos >= text.size()) return false;
    const size_t cr = text.find('\r', pos);
    if (cr == std::string_view::npos) {
        line = text.substr(pos);
        pos = text.size();
        return true;
    }
    line = text.substr(pos, cr - pos);
    pos = cr + 1;
    if (pos < text.size() && text[pos] == '\n') ++pos;
    return true;
}

// A step file as it was read, with where each step's lines begin.
struct StepFileText {
    std::string Path;
    dev_t Device = 0;
    ino_t Inode = 0;
    off_t Size = 0;
    timespec Modified{};
    timespec Changed{};
    bool Trusted = false;  // its times were old enough to tell any later change
    std::string Text;      // up to the first 0x1A
    // Step k (from 1) is Text[StepBegin[k - 1], StepBegin[k]) (the last one to the end).
    std::vector<size_t> StepBegin;

    int Steps() const { return static_cast<int>(StepBegin.size()); }
    std::string_view Step(int k) const {
        const size_t begin = StepBegin[static_cast<size_t>(k - 1)];
        const size_t end = k < Steps() ? StepBegin[static_cast<size_t>(k)] : Text.size();
        return std::string_view(Text).substr(begin, end - begin);
    }
};

bool SameTime(const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// A file whose change time is this close to the moment it was read may change again
// without a visible change of its times (file times are coarse): such a read is not
// trusted, and the file is read again next time.
constexpr time_t TrustAfterSeconds = 2;

bool OldEnough(const timespec& t, const timespec& now) {
    return t.tv_sec + TrustAfterSeconds < now.tv_sec;
}

std::mutex cacheLock;
std::shared_ptr<const StepFileText> cachedFile;

void IndexSteps(StepFileText& file) {
    file.StepBegin.assign(1, 0);
    const std::string_view text(file.Text);
    size_t pos = 0;
    std::string_view line;
    for (size_t begin = 0; NextLine(text, pos, line); begin = pos) {
        if (IsStepSeparator(line)) file.StepBegin.push_back(begin);
    }
}

// The step file's text, read only when it changed since the last read. Null when it
// cannot be opened, is not a regular file, is larger than StepFileLimit or fails to read.
std::shared_ptr<const StepFileText> ReadStepFile(const std::string& path) {
    if (path.empty()) return nullptr;
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    // Without blocking: a pipe or a device in the file's place must never hold the run.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct FdCloser {
        int Fd;
        ~FdCloser() { close(Fd); }
    } closer{fd};
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
    if (st.st_size < 0 || static_cast<uint64_t>(st.st_size) > StepFileLimit) return nullptr;
    {
        std::lock_guard<std::mutex> guard(cacheLock);
        const auto& c = cachedFile;
        if (c && c->Trusted && c->Path == path && c->Device == st.st_dev && c->Inode == st.st_ino &&
            c->Size == st.st_size && SameTime(c->Modified, st.st_mtim) &&
            SameTime(c->Changed, st.st_ctim)) {
            return c;
        }
    }
    auto file = std::make_shared<StepFileText>();
    file->Path = path;
    file->Device = st.st_dev;
    file->Inode = st.st_ino;
    file->Size = st.st_size;
    file->Modified = st.st_mtim;
    file->Changed = st.st_ctim;
    file->Trusted = OldEnough(st.st_mtim, now) && OldEnough(st.st_ctim, now);
    // One byte more than the limit tells a file that grew past it while being read.
    file->Text.resize(static_cast<size_t>(st.st_size) + 1);
    size_t got = 0;
    while (got < file->Text.size()) {
        const ssize_t n = read(fd, file->Text.data() + got, file->Text.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return nullptr;  // a partly read file would give a step of unknown content
        if (n == 0) break;
        got += static_cast<size_t>(n);
        if (got > StepFileLimit) return nullptr;
        if (got == file->Text.size()) file->Text.resize(std::min(got * 2, StepFileLimit + 1));
    }
    file->Text.resize(got);
    const size_t sub = file->Text.find('\x1A');
    if (sub != std::string::npos) file->Text.resize(sub);
    file->Text.shrink_to_fit();
    IndexSteps(*file);
    std::lock_guard<std::mutex> guard(cacheLock);
    cachedFile = file;
    return file;
}

}  // namespace

bool ReadStepFileText(const std::string& path, std::string& text) {
    std::shared_ptr<const StepFileText> file = ReadStepFile(path);
    if (!file) return false;
    text = file->Text;
    return true;
}

const char* ModelKey(int modelIndex) {
    if (modelIndex < 1 || modelIndex > ModelKeyCount) return nullptr;
    return ModelKeys[modelIndex - 1];
}

// The separator test without copying the line: the separator has no "-" or "/", so only
// the upper-casing of the normalisation matters for it.
bool IsStepSeparator(std::string_view line) {
    std::string_view sep(StepSeparator);
    if (line.size() != sep.size()) return false;
    for (size_t i = 0; i < sep.size(); ++i) {
        if (UpperAscii(line[i]) != sep[i]) return false;
    }
    return true;
}

std::string NormaliseStepLine(std::string_view line) {
    std::string out(line);
    for (size_t i = 0; i < out.size(); ++i) {
        char c = out[i];
        if (c >= 'a' && c <= 'z') {
            out[i] = UpperAscii(c);
        } else if (c == '-' && i > 0 && out[i - 1] == ' ') {
            out[i] = '/';
        }
    }
    return out;
}

bool ParseStepNumber(std::string_view text, int32_t& value) {
    size_t i = 0;
    while (i < text.size() && text[i] == ' ') ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    bool hex = false;
    if (i < text.size() && (text[i] == '$' || text[i] == 'X' || text[i] == 'x')) {
        hex = true;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' &&
               (text[i + 1] == 'X' || text[i + 1] == 'x')) {
        hex = true;
        i += 2;
    }
    uint64_t magnitude = 0;
    int digits = 0;
    bool stopped = false;  // a character did not fit
    // A signed 32-bit value: up to 2147483647, or 2147483648 with a minus sign.
    const uint64_t decimalLimit = negative ? 2147483648ULL : 2147483647ULL;
    for (; i < text.size(); ++i) {
        if (hex) {
            int d = HexDigit(text[i]);
            if (d < 0 || digits == 8) {
                stopped = true;
                break;
            }
            magnitude = magnitude * 16 + static_cast<uint64_t>(d);
        } else {
            char c = text[i];
            if (c < '0' || c > '9') {
                stopped = true;
                break;
            }
            uint64_t next = magnitude * 10 + static_cast<uint64_t>(c - '0');
            if (next > decimalLimit) {
                stopped = true;
                break;
            }
            magnitude = next;
        }
        ++digits;
    }
    uint32_t bits = static_cast<uint32_t>(magnitude);
    if (negative) bits = 0u - bits;
    value = static_cast<int32_t>(bits);
    return digits > 0 && !stopped;
}

void ResetRunSettings(StepSettings& settings, int comPortNo) {
    settings.BaudRate = DefaultBaudRate;
    settings.ComPortNo = comPortNo;
    settings.AddrStart = 0;
    settings.AddrLen = 0;
    settings.BlockLen = 2048;
    settings.BlocksOnRow = 16;
    settings.SaveImage = false;
    settings.AddrStartLine.clear();
    settings.AddrLenLine.clear();
    settings.AutoReset = false;
    settings.CheckSum = false;
    settings.Usb = false;
}

void ResetStepSettings(StepSettings& s) {
    s.ProgramFile.clear();
    s.ModelIndex = -1;
    s.RunAddr = -1;
    s.EraseSectors = -1;
    s.EraseSectorsLine.clear();
    s.BootSignal.clear();
    s.ResetSignal.clear();
    s.BankPortValue = 0xFFFF;
    s.AtmelDevice = -1;
    s.AtProgEe = -1;
    s.FuseBits.clear();
    s.LockBits.clear();
    for (const FlagKey& f : FlagsBeforePorts) s.*(f.Flag) = false;
    for (const FlagKey& f : FlagsAfterPorts) {
        if (f.Flag != &StepSettings::SaveImage) s.*(f.Flag) = false;
    }
    s.LoadError.clear();
}

std::string BadValueText(const std::string& line, const char* key, int64_t value) {
    if (line.empty()) return TextBadValue + std::string(key) + std::to_string(value);
    return TextBadValue + ShowableLine(line);
}

bool StepLineParser::ParseStepLine(const std::string& line, int wanted) {
    return Parse(line, wanted, wanted == AllSteps);
}

bool StepLineParser::ParseFileLine(const std::string& line, int step) {
    return Parse(line, step, false);
}

bool StepLineParser::Parse(const std::string& line, int wanted, bool allSteps) {
    // A file of more than INT_MAX separators cannot exist in practice; saturate anyway.
    if (IsStepSeparator(line) && counter_ < INT_MAX) ++counter_;
    if (!allSteps && counter_ != wanted) return false;
    Apply(NormaliseStepLine(line));
    return true;
}

void StepLineParser::ApplyLine(std::string_view line) {
    Apply(NormaliseStepLine(line));
}

void StepLineParser::SetLoadError(const std::string& line) {
    // The first error of a step is the one shown.
    if (settings_.LoadError.empty()) settings_.LoadError = TextBadValue + ShowableLine(line);
}

void StepLineParser::Apply(const std::string& line) {
    StepSettings& s = settings_;
    for (int m = 0; m < static_cast<int>(std::size(ModelKeys)); ++m) {
        std::string_view key(ModelKeys[m]);
        if (!StartsWith(line, key)) continue;
        const int model = m + 1;
        // The first model key fixes the model; the same key again replaces the file name,
        // another model key is ignored.
        if (s.ModelIndex == -1 || s.ModelIndex == model) {
            s.ModelIndex = model;
            s.ProgramFile = line.substr(key.size(), ProgramFileLimit);
            // A NUL would cut the name short: "FIRM<NUL>WARE.HEX" must not program "FIRM".
            if (s.ProgramFile.find('\0') != std::string::npos) SetLoadError(line);
        }
    }
    for (const ValueKey& k : ValueKeys) {
        std::string_view key(k.Key);
        if (!StartsWith(line, key)) continue;
        std::string_view value = std::string_view(line).substr(key.size());
        // No value holds a NUL byte; reading it as text or number would take what comes
        // before it as the whole value.
        if (value.find('\0') != std::string_view::npos) SetLoadError(line);
        if (k.Number == &StepSettings::AddrStart) s.AddrStartLine = line;
        if (k.Number == &StepSettings::AddrLen) s.AddrLenLine = line;
        if (k.Number == &StepSettings::AddrExtFlash) s.AddrExtFlashLine = line;
        if (k.Number == &StepSettings::EraseSectors) s.EraseSectorsLine = line;
        int32_t number = 0;
        switch (k.Kind) {
            case ValueKind::Text:
                s.*(k.Text) = std::string(value);
                break;
            case ValueKind::Number:
                ParseStepNumber(value, number);
                s.*(k.Number) = number;
                break;
            case ValueKind::BankPort:
                ParseStepNumber(value, number);
                s.BankPortValue = static_cast<uint16_t>(static_cast<uint32_t>(number) & 0xFFFFu);
                break;
            case ValueKind::StrictNumber:
                // The AVR operation must never be guessed from a partly readable value.
                if (ParseStepNumber(value, number)) {
                    s.*(k.Number) = number;
                } else {
                    s.*(k.Number) = -1;
                    SetLoadError(line);
                }
                break;
        }
    }
    for (const FlagKey& f : FlagsBeforePorts) {
        if (line == f.Key) s.*(f.Flag) = true;
    }
    if (StartsWith(line, PortFlagPrefix)) {
        for (int port = 1; port <= MaxPortFlag; ++port) {
            if (line == PortFlagPrefix + std::to_string(port)) s.ComPortNo = port;
        }
    }
    for (const FlagKey& f : FlagsAfterPorts) {
        if (line == f.Key) s.*(f.Flag) = true;
    }
}

namespace {

constexpr int32_t MaxEraseSectorsMask = 0xFFFF;
constexpr int32_t InfineonModel = 13;
constexpr int64_t InfineonInternalBase = 0xC00000;
constexpr int64_t InfineonInternalEnd = 0xC20000;
constexpr int64_t InfineonExternalBytes = 0x80000;

// A range no flow can use: a negative start or length, or an end past the 32-bit addresses
// every flow computes its range in (a "$FFFFFFFFF" that wrapped, say).
std::string RangeError(const StepSettings& s) {
    const int64_t start = s.AddrStart;
    const int64_t length = s.AddrLen;
    if (start < 0) return BadValueText(s.AddrStartLine, KeyAddrStart, start);
    if (length < 0) return BadValueText(s.AddrLenLine, KeyAddrLen, length);
    if (start + length - 1 > INT32_MAX) {
        return s.AddrLenLine.empty() ? BadValueText(s.AddrStartLine, KeyAddrStart, start)
                                     : BadValueText(s.AddrLenLine, KeyAddrLen, length);
    }
    // The sector mask goes out in 16 bits; a wider one would erase other sectors than asked.
    if (s.EraseSectors < -1 || s.EraseSectors > MaxEraseSectorsMask)
        return BadValueText(s.EraseSectorsLine, KeyEraseSectors, s.EraseSectors);
    // The external flash's 512 KB must lie in the 32-bit addresses apart from the internal
    // flash, or its pages would be written over the internal ones or to wrapped addresses.
    if (s.ModelIndex == InfineonModel) {
        const int64_t ext = s.AddrExtFlash;
        const bool overlaps =
            ext < InfineonInternalEnd && ext + InfineonExternalBytes > InfineonInternalBase;
        if (ext < 0 || ext + InfineonExternalBytes > int64_t{1} << 32 || overlaps)
            return BadValueText(s.AddrExtFlashLine, KeyAddrExtFlash, ext);
    }
    return {};
}

}  // namespace

int LoadStep(int n, const CurrentProject& project, const std::vector<std::string>& args,
             StepSettings& settings, MapGeometry& map) {
    ResetStepSettings(settings);
    StepLineParser parser(settings);
    parser.ResetCounter();

    const std::shared_ptr<const StepFileText> file = ReadStepFile(project.StepFile);
    if (!file) return StepFileNotOpened;
    // Step 1 has lines when anything comes before the first separator; every later step
    // has at least its separator line.
    const bool belonged = n >= 1 && n <= file->Steps() && !file->Step(n).empty();
    if (belonged) {
        const std::string_view text = file->Step(n);
        size_t pos = 0;
        std::string_view line;
        while (NextLine(text, pos, line)) parser.ApplyLine(line);
    }

    const int words = ExtraParameterCount(project.ExtraParameters);
    for (int i = 1; i <= words; ++i) {
        parser.ParseStepLine(ExtraParameterWord(project.ExtraParameters, i), AllSteps);
    }
    for (const std::string& arg : args) parser.ParseStepLine(arg, AllSteps);

    if (settings.ModelIndex == 6) {
        settings.BaudRate = DefaultBaudRate;
        settings.AddrStart = 0;
        settings.AddrLen = 0x40000;
        settings.BlockLen = 1024;
        settings.BlocksOnRow = 32;
    } else if (settings.ModelIndex == 9) {
        settings.BaudRate = DefaultBaudRate;
    }
    if (settings.LoadError.empty()) settings.LoadError = RangeError(settings);

    map = SizeMap(settings.AddrLen, settings.BlockLen, settings.BlocksOnRow);
    return belonged ? StepLoaded : StepMissing;
}

int ExtraParameterCount(const std::string& text) {
    int count = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != ' ' && (i == 0 || text[i - 1] == ' ')) ++count;
    }
    return count;
}

std::string ExtraParameterWord(const std::string& text, int i) {
    if (i < 1) return {};
    int count = 0;
    for (size_t pos = 0; pos < text.size(); ++pos) {
        if (text[pos] != ' ' && (pos == 0 || text[pos - 1] == ' ')) {
            if (++count == i) {
                size_t end = text.find(' ', pos);
                return text.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
            }
        }
    }
    return {};
}

}  // namespace ps

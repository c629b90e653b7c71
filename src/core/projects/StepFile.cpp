#include "projects/StepFile.h"

#include <sys/stat.h>

#include <climits>
#include <cstdio>
#include <iterator>
#include <memory>

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

// Reads a file line by line: CR or CR LF ends a line, a lone LF stays in the line, 0x1A
// ends the file. Byte-exact, linear in the file size whatever the line lengths.
class StepFileReader {
public:
    explicit StepFileReader(std::FILE* file) : file_(file) {}

    // False at the end of the file (or on a read error, see Failed()).
    bool NextLine(std::string& line) {
        line.clear();
        if (ended_) return false;
        bool any = false;
        while (true) {
            if (pos_ == len_ && !Fill()) return any;
            char c = buf_[pos_++];
            if (skipLf_) {
                skipLf_ = false;
                if (c == '\n') continue;
            }
            if (c == '\x1A') {
                ended_ = true;
                return any;
            }
            if (c == '\r') {
                skipLf_ = true;
                return true;
            }
            // Copy the run of ordinary bytes at once.
            size_t start = pos_ - 1;
            while (pos_ < len_ && buf_[pos_] != '\r' && buf_[pos_] != '\x1A') ++pos_;
            line.append(buf_.get() + start, pos_ - start);
            any = true;
        }
    }
    bool Failed() const { return failed_; }

private:
    bool Fill() {
        if (eof_) return false;
        len_ = std::fread(buf_.get(), 1, BufSize, file_);
        pos_ = 0;
        if (len_ == 0) {
            eof_ = true;
            failed_ = std::ferror(file_) != 0;
            return false;
        }
        return true;
    }

    static constexpr size_t BufSize = 64 * 1024;
    std::FILE* file_;
    std::unique_ptr<char[]> buf_ = std::make_unique<char[]>(BufSize);
    size_t pos_ = 0;
    size_t len_ = 0;
    bool skipLf_ = false;
    bool eof_ = false;
    bool ended_ = false;  // 0x1A seen: nothing after it is read
    bool failed_ = false;
};

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

const char* ModelKey(int modelIndex) {
    if (modelIndex < 1 || modelIndex > ModelKeyCount) return nullptr;
    return ModelKeys[modelIndex - 1];
}

// The separator test without copying the line: the separator has no "-" or "/", so only
// the upper-casing of the normalisation matters for it.
bool IsStepSeparator(const std::string& line) {
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
    settings.AutoReset = false;
    settings.CheckSum = false;
    settings.Usb = false;
}

void ResetStepSettings(StepSettings& s) {
    s.ProgramFile.clear();
    s.ModelIndex = -1;
    s.RunAddr = -1;
    s.EraseSectors = -1;
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
        }
    }
    for (const ValueKey& k : ValueKeys) {
        std::string_view key(k.Key);
        if (!StartsWith(line, key)) continue;
        std::string_view value = std::string_view(line).substr(key.size());
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
                    if (s.LoadError.empty()) s.LoadError = TextBadValue + ShowableLine(line);
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

int LoadStep(int n, const CurrentProject& project, const std::vector<std::string>& args,
             StepSettings& settings, MapGeometry& map) {
    ResetStepSettings(settings);
    StepLineParser parser(settings);
    parser.ResetCounter();

    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(project.StepFile.c_str(), "rb"));
    if (!file) return StepFileNotOpened;
    // A folder opens for reading on POSIX but is no step file.
    struct stat st {};
    if (fstat(fileno(file.get()), &st) != 0 || S_ISDIR(st.st_mode)) return StepFileNotOpened;

    bool belonged = false;
    StepFileReader reader(file.get());
    std::string line;
    while (reader.NextLine(line)) {
        if (parser.ParseFileLine(line, n)) belonged = true;
        // Lines after the step can never belong to it: the counter only grows.
        if (parser.Counter() > n) break;
    }
    // A file that could not be read to the end would give a step of unknown content.
    if (reader.Failed()) return StepFileNotOpened;
    file.reset();

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

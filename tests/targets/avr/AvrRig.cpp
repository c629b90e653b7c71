// SPDX-License-Identifier: MIT
#include "targets/avr/AvrRig.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>

#include "targets/avr/AvrFlow.h"

namespace ps::avrtest {

TempDir::TempDir() {
    static int counter = 0;
    path_ = std::filesystem::temp_directory_path() /
            ("ps-avr-" + std::to_string(::getpid()) + "-" + std::to_string(++counter));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

InFolder::InFolder(const std::filesystem::path& folder) : old_(std::filesystem::current_path()) {
    std::filesystem::current_path(folder);
}

InFolder::~InFolder() {
    std::error_code ec;
    std::filesystem::current_path(old_, ec);
}

std::string HexRecord(uint8_t type, uint16_t address, const std::vector<uint8_t>& payload,
                      const char* lineEnd) {
    char buf[8];
    unsigned sum = static_cast<unsigned>(payload.size() + (address >> 8) + (address & 0xFF) + type);
    std::snprintf(buf, sizeof buf, ":%02zX", payload.size());
    std::string line = buf;
    std::snprintf(buf, sizeof buf, "%04X%02X", address, type);
    line += buf;
    for (uint8_t b : payload) {
        std::snprintf(buf, sizeof buf, "%02X", b);
        line += buf;
        sum += b;
    }
    std::snprintf(buf, sizeof buf, "%02X", (0x100 - (sum & 0xFF)) & 0xFF);
    return line + buf + lineEnd;
}

std::string IntelHex(const std::vector<uint8_t>& image, size_t length) {
    std::string text;
    for (size_t first = 0; first < length; first += 16) {
        const size_t n = std::min<size_t>(16, length - first);
        const std::vector<uint8_t> chunk(image.begin() + static_cast<long>(first),
                                         image.begin() + static_cast<long>(first + n));
        if (std::all_of(chunk.begin(), chunk.end(), [](uint8_t b) { return b == 0xFF; })) continue;
        text += HexRecord(0x00, static_cast<uint16_t>(first), chunk);
    }
    return text + ":00000001FF\n";
}

std::vector<uint8_t> SampleImage(size_t length, uint32_t seed, bool gaps) {
    std::mt19937 random(seed);
    std::vector<uint8_t> image(length, 0xFF);
    for (size_t i = 0; i < length; ++i) {
        // Leave every fourth 256-byte stretch erased, as code with gaps between sections.
        if (gaps && (i / 256) % 4 == 3) continue;
        image[i] = static_cast<uint8_t>(random());
    }
    return image;
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<uint8_t> ParseIntelHex(const std::string& text, size_t size, bool& ok) {
    std::vector<uint8_t> image(size, 0xFF);
    ok = true;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        if (line[0] != ':' || line.size() < 11 || line.size() % 2 == 0) {
            ok = false;
            continue;
        }
        std::vector<unsigned> b;
        for (size_t i = 1; i + 1 < line.size(); i += 2) {
            b.push_back(static_cast<unsigned>(std::stoul(line.substr(i, 2), nullptr, 16)));
        }
        unsigned sum = 0;
        for (unsigned v : b) sum += v;
        if ((sum & 0xFF) != 0 || b.size() != b[0] + 5u) ok = false;
        if (b[3] != 0) continue;
        const unsigned address = b[1] * 256 + b[2];
        for (unsigned i = 0; i < b[0]; ++i) {
            if (address + i < size) image[address + i] = static_cast<uint8_t>(b[4 + i]);
        }
    }
    return image;
}

sim::AvrBoard::Options Rig::OptionsFor(int processor) {
    sim::AvrBoard::Options options;
    options.Processor = processor;
    return options;
}

Rig::Rig(const sim::AvrBoard::Options& options) {
    auto made = std::make_unique<sim::AvrBoard>(options);
    board = made.get();
    wire = std::make_shared<sim::Wire>(clock, std::move(made), "sim:avr");
    st.Comm.SetResolver([w = wire](int) { return std::make_unique<sim::SimPortDevice>(w); });
    view.Stop = [this] { st.RunError = RunStopped; };
    view.Describe = [this] {
        return pstest::DescribeRun(view, &wire->transcript(), clock.NowMs());
    };
    view.Arm();
    st.Comm.SetPortNum(1);
    st.Comm.SetBaudrate(br115200);
    st.Comm.Open();
    st.CurrentStep = 1;
    st.Step.AtmelDevice = options.Processor;
    st.Step.AutoContinue = true;
}

void Rig::FlashStep(const std::string& file, int32_t addrLen) {
    st.Step.ProgramFile = file;
    st.Step.ModelIndex = 7;
    st.Step.AddrStart = 0;
    st.Step.AddrLen = addrLen;
}

void Rig::Run(int64_t limitMs) {
    view.Arm(limitMs);
    RunAtmelFlow(st);
    view.Arm();
}

std::vector<std::vector<uint8_t>> Rig::Writes() const {
    std::vector<std::vector<uint8_t>> writes;
    for (const auto& call : wire->transcript().Writes) writes.push_back(call.Bytes);
    return writes;
}

void Rig::Settle() {
    clock.SleepMs(100);
    wire->BytesWaiting();
}

std::vector<std::vector<uint8_t>> Rig::Commands() const {
    std::vector<std::vector<uint8_t>> commands;
    const auto writes = Writes();
    for (size_t i = 0; i < writes.size(); ++i) {
        commands.push_back(writes[i]);
        const auto& w = writes[i];
        if (w.size() == 4 && w[0] == 'S' && w[3] == 0x80) i += 128;  // one write per data byte
    }
    return commands;
}

int Rig::CountWrites(const std::vector<uint8_t>& bytes) const {
    int count = 0;
    for (const auto& command : Commands()) count += command == bytes ? 1 : 0;
    return count;
}

int Rig::PageHeaders() const {
    int count = 0;
    for (const auto& w : Commands()) count += w.size() == 4 && w[0] == 'S' && w[3] == 0x80;
    return count;
}

}  // namespace ps::avrtest

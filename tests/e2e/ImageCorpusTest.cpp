// SPDX-License-Identifier: MIT
// Images shaped as real tools write them (made here from bytes), programmed on each
// family's simulated board and compared with an independent reading of the same file
// (a few lines of Python): every data byte the file holds is on the board at its own
// address.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "run/ExitStatus.h"
#include "app/InlineRig.h"
#include "sim/AvrBoard.h"
#include "sim/Board.h"
#include "sim/Boot574Board.h"
#include "sim/Boot91360Board.h"
#include "sim/MotorolaBoard.h"
#include "support/StationHarness.h"
#include "targets/avr/AvrRig.h"

namespace ps {
namespace {

using Bytes = std::vector<uint8_t>;
using inlinetest::IntelLine;
using inlinetest::SampleBytes;
using inlinetest::SrecLine;

// Records of `per` bytes over `data` from `address`, each line ended by `end`.
std::string Records(uint32_t address, const Bytes& data, size_t per,
                    const std::function<std::string(uint32_t, const Bytes&)>& line,
                    const char* end) {
    std::string text;
    for (size_t at = 0; at < data.size(); at += per) {
        const Bytes part(data.begin() + static_cast<long>(at),
                         data.begin() + static_cast<long>(std::min(data.size(), at + per)));
        text += line(address + static_cast<uint32_t>(at), part) + end;
    }
    return text;
}

// The hex digits in lower case; the record marks stay as they are.
std::string Lower(std::string text) {
    for (size_t i = 0; i < text.size(); ++i)
        if (i > 0 && text[i - 1] != '\n')
            text[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[i])));
    return text;
}

auto Intel = [](uint32_t a, const Bytes& d) { return IntelLine(static_cast<uint16_t>(a), 0, d); };
auto S1 = [](uint32_t a, const Bytes& d) { return SrecLine(1, a, d, 2); };
auto S2 = [](uint32_t a, const Bytes& d) { return SrecLine(2, a, d, 3); };

// The independent reading: address and value of every data byte, later records winning.
const char* const Reader = R"PY(
import sys
mem = {}
base = 0
for raw in open(sys.argv[1], 'rb').read().decode('ascii').splitlines():
    line = raw.strip()
    if not line:
        continue
    if line[0] == ':':
        b = bytes.fromhex(line[1:])
        n, addr, kind = b[0], b[1] << 8 | b[2], b[3]
        if kind == 0:
            for i in range(n):
                mem[base + addr + i] = b[4 + i]
        elif kind == 2:
            base = (b[4] << 8 | b[5]) * 16
        elif kind == 4:
            base = (b[4] << 8 | b[5]) << 16
    elif line[0] in 'Ss' and line[1] in '123':
        b = bytes.fromhex(line[2:])
        width = int(line[1]) + 1
        addr = int.from_bytes(b[1:1 + width], 'big')
        for i, v in enumerate(b[1 + width:-1]):
            mem[addr + i] = v
for a in sorted(mem):
    print('%x %x' % (a, mem[a]))
)PY";

std::map<uint32_t, uint8_t> ReadIndependently(pstest::TempDir& dir, const std::string& image) {
    dir.Write("reader.py", Reader);
    const std::string out = dir.File("reading.txt");
    const std::string command =
        "python3 " + dir.File("reader.py") + " " + dir.File(image) + " > " + out + " 2>&1";
    EXPECT_EQ(0, std::system(command.c_str()));
    std::map<uint32_t, uint8_t> memory;
    std::ifstream in(out);
    std::string address, value;
    while (in >> address >> value)
        memory[static_cast<uint32_t>(std::stoul(address, nullptr, 16))] =
            static_cast<uint8_t>(std::stoul(value, nullptr, 16));
    return memory;
}

int At(const std::vector<uint8_t>& memory, uint32_t address) {
    return address < memory.size() ? memory[address] : -1;
}

TEST(ImageCorpus, EveryByteOfRealWorldShapedImagesIsOnTheBoard) {
    const Bytes program = SampleBytes(3001, 41);  // odd: the last record is short
    const Bytes data = SampleBytes(211, 42);
    struct Row {
        const char* Shape;
        std::string Board;
        std::vector<std::string> Step;  // the image is named first
        std::string Text;
        std::function<int(sim::Board&, uint32_t)> ByteAt;
    };
    const std::vector<Row> rows = {
        {"compiler Intel HEX: 16-byte records, a zero linear base, .data after .text, LF",
         "avr,proc=6",
         {"/PA=image.hex", "/ATMEL=6", "/AddrStart=0", "/AddrLen=32768", "/AUTOCONTINUE"},
         IntelLine(0, 4, {0, 0}) + "\n" + Records(0, program, 16, Intel, "\n") +
             Records(3002, data, 16, Intel, "\n") + IntelLine(0, 5, {0, 0, 0, 0}) + "\n" +
             ":00000001FF\n",
         [](sim::Board& b, uint32_t a) { return At(dynamic_cast<sim::AvrBoard&>(b).Flash(), a); }},
        {"S-records in lower case: header, 32-byte S2 records, count and end records, CR LF",
         "motorola,memory=0x10000",
         {"/P=image.mhx", "/ADDRLEN=$10000", "/SINHRO", "/ERASEFLASH", "/AUTOCONTINUE"},
         Lower(SrecLine(0, 0, {'f', 'w'}, 2) + "\r\n" + Records(0x100, program, 32, S2, "\r\n") +
               SrecLine(5, 95, {}, 2) + "\r\n" + SrecLine(8, 0, {}, 3) + "\r\n"),
         [](sim::Board& b, uint32_t a) {
             return At(dynamic_cast<sim::MotorolaBoard&>(b).Memory(), a);
         }},
        {"S1 records of 13 bytes with an S9 end and a blank last line",
         "574boot",
         {"/PAB=image.mhx", "/SINHRO", "/AUTOCONTINUE"},
         Records(0x8000, data, 13, S1, "\n") + SrecLine(9, 0x8000, {}, 2) + "\n\n",
         [](sim::Board& b, uint32_t a) {
             return At(dynamic_cast<sim::Boot574Board&>(b).Memory(), a);
         }},
        {"S2 records of 28 bytes over a gap, overwritten in part by a later record",
         "91360-boot",
         {"/PFB=image.mhx", "/AddrStart=$3E000", "/AddrLen=$2000", "/BlockLen=256",
          "/BlocksOnRow=16", "/AUTOCONTINUE"},
         Records(0x3E000, data, 28, S2, "\r\n") + Records(0x3F800, data, 28, S2, "\r\n") +
             S2(0x3E010, {1, 2, 3}) + "\r\n" + SrecLine(8, 0x3E000, {}, 3) + "\r\n",
         [](sim::Board& b, uint32_t a) {
             const auto& m = dynamic_cast<sim::Boot91360Board&>(b).Memory();
             const auto it = m.find(a);
             return it == m.end() ? -1 : it->second;
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Shape);
        std::string error;
        auto board = sim::MakeBoard(row.Board, error);
        ASSERT_TRUE(board) << error;
        pstest::StationHarness h(std::move(board));
        avrtest::InFolder inFolder(h.dir.Path());
        const std::string image = row.Step[0].substr(row.Step[0].find('=') + 1);
        h.dir.Write(image, row.Text);
        h.StepFile(row.Step);
        h.ContinueWhenAsked();
        ASSERT_EQ(ExitSuccess, h.Run()) << h.view.Dump();
        const auto reading = ReadIndependently(h.dir, image);
        ASSERT_GT(reading.size(), 200u);
        int wrong = 0;
        for (const auto& [address, value] : reading)
            if (row.ByteAt(h.wire->board(), address) != value && wrong++ < 5)
                ADD_FAILURE() << std::hex << "0x" << address << ": board "
                              << row.ByteAt(h.wire->board(), address) << ", file " << int{value};
        EXPECT_EQ(0, wrong);
    }
}

}  // namespace
}  // namespace ps

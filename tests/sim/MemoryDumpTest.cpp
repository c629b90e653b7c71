// SPDX-License-Identifier: MIT
// dump=FILE: a simulated board writes its memory when the port closes, as a binary file and
// a one-line JSON description, so that what it holds can be compared with the image.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "projects/TempDir.h"
#include "sim/Boards.h"
#include "sim/MemoryDump.h"
#include "support/ChildProgram.h"

namespace {

using namespace ps::sim;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(MemoryDump, RegionsAreDescribedWhereTheyLieInTheFile) {
    struct Row {
        std::map<uint32_t, uint8_t> Memory;
        std::string Description;
    };
    const std::vector<Row> rows = {
        {{}, "{\"board\":\"b\",\"file\":\"d.bin\",\"regions\":[]}\n"},
        {{{0x10, 1}, {0x11, 2}},
         "{\"board\":\"b\",\"file\":\"d.bin\",\"address\":16,\"length\":2,\"regions\":[{\"name\":"
         "\"memory\",\"address\":16,\"length\":2,\"offset\":0}]}\n"},
        {{{0x10, 1}, {0x20, 2}, {0x21, 3}},
         "{\"board\":\"b\",\"file\":\"d.bin\",\"regions\":[{\"name\":\"memory\",\"address\":16,"
         "\"length\":1,\"offset\":0},{\"name\":\"memory\",\"address\":32,\"length\":2,"
         "\"offset\":1}]}\n"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(row.Description,
                  DumpDescription("b", "d.bin", SparseRegions("memory", row.Memory)));
    EXPECT_EQ("{\"board\":\"a\\\"b\\\\\",\"file\":\"x\\u000a\",\"regions\":[]}\n",
              DumpDescription("a\"b\\", "x\n", {}));
}

TEST(MemoryDump, BadDumpOptionsAreRefusedByName) {
    for (const char* spec : {"avr,dump", "avr,dump=", "generic,dump= "}) {
        std::string error;
        EXPECT_EQ(nullptr, MakeBoard(spec, error)) << spec;
        EXPECT_NE(std::string::npos, error.find("option \"dump\" needs a file name")) << error;
    }
}

// The bytes of an Intel HEX file with data records only, by address.
std::map<uint32_t, uint8_t> HexBytes(const std::string& text) {
    std::map<uint32_t, uint8_t> bytes;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (line.size() < 11 || line.substr(7, 2) != "00") continue;
        const unsigned count = std::stoul(line.substr(1, 2), nullptr, 16);
        const unsigned address = std::stoul(line.substr(3, 4), nullptr, 16);
        for (unsigned i = 0; i < count; ++i)
            bytes[address + i] =
                static_cast<uint8_t>(std::stoul(line.substr(9 + 2 * i, 2), nullptr, 16));
    }
    return bytes;
}

// The example project programs its simulated AVR; the dump's flash holds the image.
TEST(MemoryDump, TheExamplesBoardShowsTheImageItWasProgrammedWith) {
    ps::test::TempDir dir;
    const std::string example = std::string(PS_SOURCE_DIR) + "/examples/atmel";
    const std::string dump = dir.File("board.bin");
    const pstest::ProgramResult run = pstest::RunChildProgram(
        std::string(PS_BINARY_DIR) + "/progstation-cli", {"--ini", "PROGRAMMER.INI", "-q"}, example,
        {{"PROGSTATION_COM1", "sim:avr,proc=6,dump=" + dump}});
    ASSERT_EQ(0, run.Status) << run.Out;

    const std::string memory = ReadFile(dump);
    const std::string description = ReadFile(dump + ".json");
    EXPECT_EQ(0u, description.find("{\"board\":\"avr\",\"file\":\"board.bin\",\"regions\":[{"
                                   "\"name\":\"flash\",\"address\":0,\"length\":32768,"
                                   "\"offset\":0},{\"name\":\"eeprom\",\"address\":0,"))
        << description;
    EXPECT_EQ(1, std::count(description.begin(), description.end(), '\n'));
    ASSERT_GE(memory.size(), 32768u);
    const auto image = HexBytes(ReadFile(example + "/firmware.hex"));
    ASSERT_FALSE(image.empty());
    for (const auto& [address, byte] : image)
        ASSERT_EQ(byte, static_cast<uint8_t>(memory[address])) << "at " << address;
    EXPECT_EQ(dir.Entries().size(), 2u);  // no temporary file left beside them
}

}  // namespace

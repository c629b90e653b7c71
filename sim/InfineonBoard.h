// SPDX-License-Identifier: MIT
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/Board.h"
#include "sim/Boards.h"

namespace ps::sim {

// The far side of an "INFINEON XC161CJ" step: the chip's serial bootstrap loader, then the
// three programs the station sends, each a state of the board: the 32-byte boot program,
// loader1 (which fills RAM at 115200 baud) and loader2 (which tests, erases and programs
// the internal flash at 0xC00000 and the external flash on the bus).
//
// Flash behaves like flash: programming only clears bits, so a page written over old
// content without an erase fails its check. The board starts with an old program in both
// flashes. RTS is the chip's reset: it is held in reset while RTS is negated, and when RTS
// is asserted it starts (RAM lost, flash kept) in its bootstrap loader if DTR, its boot-mode
// pin, is asserted then, else in its own program. Opening a port asserts both lines, so a
// step with "/RESETSIGNAL=RTS0" and "/BOOTSIGNAL=DTR1" restarts it into the bootstrap
// loader; reopening the port at another rate leaves it running.
class InfineonBoard : public Board {
public:
    // Where the board stops answering: the boot program never reports, loader1 never
    // starts, loader1 takes no fill, loader2 never answers, loader2 never accepts a page.
    enum class Quiet { None, Boot, Loader1, Fill, Loader2, Program };
    // Which check answers a wrong sum, once: the first of loader1 (RAM) or loader2 (flash).
    enum class BadCheck { None, Fill, Program };
    enum class Stage { Bootstrap, BootProgram, Loader1Load, Loader1, Loader2, Running, Hung };

    struct Options {
        uint32_t ExternalBase = 0x400000;  // where the external flash lies on the bus
        Quiet QuietAt = Quiet::None;
        BadCheck Bad = BadCheck::None;
    };

    static constexpr uint32_t InternalBase = 0xC00000;
    static constexpr uint32_t InternalSize = 0x20000;
    static constexpr uint32_t ExternalSize = 0x80000;
    static constexpr uint32_t RamBase = 0x100000;  // loader2's RAM
    static constexpr uint32_t RamSize = 0x80000;
    static constexpr uint32_t LoaderBaud = 115200;
    static constexpr int BootBytes = 32;
    static constexpr int Loader1Bytes = 2016;  // loader1 but for the boot program's 32 bytes
    // Timing of the chip, in board milliseconds.
    static constexpr int SectorEraseMs = 40;
    static constexpr int PageProgramMs = 3;

    explicit InfineonBoard(const Options& options);
    std::string Kind() const override { return "infineon"; }
    std::vector<MemoryRegion> MemoryRegions() const override {
        return {{"internal flash", InternalBase, internal_},
                {"external flash", options_.ExternalBase, external_},
                {"ram", RamBase, ram_}};
    }
    std::string Describe() const override;
    void OnByte(uint8_t b) override;
    void OnLines(bool dtr, bool rts) override;

    // What a test looks at after a run.
    Stage CurrentStage() const { return stage_; }
    std::vector<uint8_t>& InternalFlash() { return internal_; }
    std::vector<uint8_t>& ExternalFlash() { return external_; }
    const std::vector<uint8_t>& BootProgram() const { return boot_; }  // as received
    const std::vector<uint8_t>& Loader1() const { return loader1_; }
    std::vector<uint8_t> Ram(uint32_t address, uint32_t length) const;
    uint32_t BootstrapBaud() const { return bootBaud_; }
    const std::vector<int>& InternalErases() const { return internalErases_; }       // sectors
    const std::vector<uint16_t>& ExternalErases() const { return externalErases_; }  // masks
    int PagesProgrammed() const { return pagesProgrammed_; }
    int Fills() const { return fills_; }
    int Starts() const { return starts_; }  // 'g' received
    // Board time spent erasing and programming, for benchmarks.
    int64_t BusyMs() const { return busyMs_; }

    // The loaders' sum and CRC over the board's memory, as they answer them.
    static uint16_t WordSum(const uint8_t* bytes, int length);
    static uint32_t SectorCrc(const uint8_t* bytes, size_t length);

private:
    void Restart();
    void Command(uint8_t b);
    void Finish();
    bool AwaitsData(bool loader2);  // a fill's or a page's header is in: collect its data
    // The bigger commands, once all their bytes are in.
    void FillRam();
    void AnswerCheck(bool loader2);
    void AnswerSectorCrc();
    void EraseInternalSector();
    void EraseExternalSectors();
    void ProgramPage(std::vector<uint8_t>& flash);
    void Answer(const std::vector<uint8_t>& bytes, int delayMs = 0);
    void Answer(uint8_t b, int delayMs = 0) { Answer(std::vector<uint8_t>{b}, delayMs); }
    // The board's memory at a bus address for `length` bytes, or nullptr outside it.
    uint8_t* Memory(uint32_t address, uint32_t length);
    void EraseExternal(uint16_t mask);

    Options options_;
    Stage stage_ = Stage::Bootstrap;
    uint32_t bootBaud_ = 0;
    std::vector<uint8_t> internal_;
    std::vector<uint8_t> external_;
    std::vector<uint8_t> ram_;
    std::vector<uint8_t> boot_;
    std::vector<uint8_t> loader1_;
    std::vector<int> internalErases_;
    std::vector<uint16_t> externalErases_;
    int pagesProgrammed_ = 0;
    int fills_ = 0;
    int starts_ = 0;
    int64_t busyMs_ = 0;
    bool badCheckDone_ = false;
    bool rts_ = false;

    // The command being collected: its letter, how many more bytes it needs, and those.
    uint8_t cmd_ = 0;
    int needed_ = 0;
    std::vector<uint8_t> args_;
};

// Makes the board from its options (after "infineon,"): ext=ADDR, quiet=STAGE (boot,
// loader1, fill, loader2, program), badcheck=fill|program.
std::unique_ptr<Board> MakeInfineonBoard(const BoardOptions& options, std::string& error);

}  // namespace ps::sim

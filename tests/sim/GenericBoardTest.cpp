// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "sim/Boards.h"
#include "sim/GenericBoard.h"
#include "sim/VirtualClock.h"

namespace ps::sim {
namespace {

using Bytes = std::vector<uint8_t>;

// The station's side of the exchanges, written against the port device the way the link
// primitives use it: one write per byte, a handshake that drains, sends and waits 500 ms.
struct Host {
    VirtualClock clock;
    SimPortPool pool{clock};
    std::unique_ptr<PortDevice> dev;
    std::shared_ptr<Wire> wire;
    GenericBoard* board = nullptr;

    explicit Host(const std::string& spec = "generic", uint32_t baud = 9600) {
        dev = pool.MakeDevice(spec);
        EXPECT_NE(dev, nullptr) << pool.LastError();
        if (!dev) return;
        EXPECT_EQ(dev->Open(), 0);
        LineSettings s;
        s.Baud = baud;
        EXPECT_EQ(dev->ApplyLineSettings(s), 0);
        wire = pool.Find(spec);
        board = &wire->BoardAs<GenericBoard>();
    }
    void Send(const Bytes& bytes) {
        for (uint8_t b : bytes) ASSERT_EQ(dev->Write(&b, 1), 1);
    }
    // Everything that arrives within ms.
    Bytes Listen(int ms) {
        clock.SleepMs(ms);
        Bytes out(512);
        long n = dev->Read(out.data(), out.size());
        out.resize(n > 0 ? static_cast<size_t>(n) : 0);
        return out;
    }
    // Reads one byte, waiting at most 5 s of virtual time; -1 when none came.
    int ReadByte() {
        for (int i = 0; i < 500; ++i) {
            if (dev->WaitReadable(10) == 1) {
                uint8_t b = 0;
                if (dev->Read(&b, 1) == 1) return b;
            }
        }
        return -1;
    }
    Bytes ReadN(int n) {
        Bytes out;
        for (int i = 0; i < n; ++i) {
            int b = ReadByte();
            if (b < 0) break;
            out.push_back(static_cast<uint8_t>(b));
        }
        return out;
    }
    // ExpectByte with a limit: discards everything else.
    bool Expect(uint8_t want) {
        for (int i = 0; i < 100; ++i) {
            int b = ReadByte();
            if (b < 0) return false;
            if (b == want) return true;
        }
        return false;
    }
    // Rounds taken, or -1 when `rounds` were not enough.
    int Handshake(uint8_t a, uint8_t b, int rounds = 10) {
        for (int r = 1; r <= rounds; ++r) {
            uint8_t junk[64];
            while (dev->BytesWaiting() > 0) dev->Read(junk, sizeof junk);
            Send({a});
            clock.SleepMs(500);
            uint8_t got = 0;
            if (dev->BytesWaiting() > 0 && dev->Read(&got, 1) == 1 && got == b) return r;
        }
        return -1;
    }
};

TEST(GenericBoard, AnswersEveryHandshakeInOneRound) {
    const std::vector<std::pair<uint8_t, uint8_t>> pairs = {
        {0x73, 0x69}, {0x78, 0x79}, {0x28, 0x29}, {0x50, 0x4F}, {0x18, 0x11}, {0x41, 0x61}};
    for (auto [a, b] : pairs) {
        Host host;
        EXPECT_EQ(host.Handshake(a, b), 1) << std::hex << int(a);
    }
}

TEST(GenericBoard, BankPortFlashAndAvrIdentification) {
    Host host("generic,flash=7,sig=000102");
    ASSERT_EQ(host.Handshake(0x78, 0x79), 1);
    host.Send({0x12, 0x34});
    EXPECT_TRUE(host.Expect(0x7D));
    EXPECT_TRUE(host.board->BankPortSet);
    EXPECT_EQ(host.board->BankPortValue, 0x1234);

    ASSERT_EQ(host.Handshake(0x28, 0x29), 1);
    EXPECT_EQ(host.ReadByte(), 0x07);

    ASSERT_EQ(host.Handshake(0x50, 0x4F), 1);
    host.Send({'I'});
    EXPECT_EQ(host.ReadN(3), (Bytes{0x00, 0x01, 0x02}));

    // Defaults: an AM29F010 and an ATmega32.
    Host plain;
    ASSERT_EQ(plain.Handshake(0x28, 0x29), 1);
    EXPECT_EQ(plain.ReadByte(), 0x03);
    plain.Send({'I'});
    EXPECT_EQ(plain.ReadN(3), (Bytes{0x1E, 0x95, 0x02}));
}

TEST(GenericBoard, EraseRangeEraseAndRunAtAddress) {
    Host host;
    host.Send({0x32});
    EXPECT_EQ(host.ReadByte(), 0x37);
    host.Send({0x0A});
    host.clock.SleepMs(2);
    host.Send({0x12, 0x34, 0x00, 0x10});
    EXPECT_EQ(host.ReadByte(), 0x0F);
    host.Send({0x1E});
    host.clock.SleepMs(2);
    host.Send({0xAB, 0xCD});
    EXPECT_EQ(host.ReadByte(), 0x23);
    EXPECT_EQ(host.board->Erases, 1);
    ASSERT_EQ(host.board->RangeErases.size(), 1u);
    EXPECT_EQ(host.board->RangeErases[0], (std::pair<uint16_t, uint16_t>{0x1234, 0x0010}));
    EXPECT_EQ(host.board->RunAddresses16, std::vector<uint16_t>{0xABCD});
    EXPECT_TRUE(host.board->Unknown.empty());
}

TEST(GenericBoard, FramesAreCheckedAndAnswered) {
    Host host("generic,sum=BEEF");
    host.Send({0x4B, 0x32, 0x03, 0x12, 0x34, 0xB6});  // erase sectors 0x1234
    EXPECT_EQ(host.ReadByte(), 'i');
    host.Send({0x4B, 0x32, 0x03, 0x12, 0x34, 0xB7});  // wrong check byte
    EXPECT_EQ(host.ReadByte(), 'h');
    host.Send({0x4B, 0x33, 0x05, 0x00, 0x01, 0x80, 0x00, 0x79});  // run at 0x00018000
    EXPECT_TRUE(host.Listen(100).empty());
    host.Send({0x4B, 0x30, 0x01, 0xFE});  // start
    EXPECT_EQ(host.ReadByte(), 'i');
    // Checksum of 0x00000000..0x0000FFFF: check = 0xFF - ((0x09 + 0xFF + 0xFF) & 0xFF).
    host.Send({0x4B, 0x34, 0x09, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xF8});
    EXPECT_EQ(host.ReadN(3), (Bytes{0xBE, 0xEF, 0x00}));
    host.Send({'K', 'B', 'o', 'T', 'a', 'p', 's'});
    EXPECT_EQ(host.ReadByte(), 'O');

    const GenericBoard& b = *host.board;
    EXPECT_EQ(b.SectorErases, std::vector<uint16_t>{0x1234});
    EXPECT_EQ(b.RunAddresses32, std::vector<uint32_t>{0x00018000});
    EXPECT_EQ(b.Starts, 1);
    ASSERT_EQ(b.ChecksumRanges.size(), 1u);
    EXPECT_EQ(b.ChecksumRanges[0].second, 0xFFFFu);
    EXPECT_EQ(b.Frames.size(), 5u);
    EXPECT_EQ(b.BadFrames, 1);
    EXPECT_TRUE(b.Unknown.empty());
}

TEST(GenericBoard, NegativeBoardRefusesFramesButStillShakesHands) {
    Host host("generic,negative");
    EXPECT_EQ(host.Handshake(0x73, 0x69), 1);
    host.Send({0x4B, 0x32, 0x03, 0x12, 0x34, 0xB6});
    EXPECT_EQ(host.ReadByte(), 'h');
    host.Send({0x4B, 0x30, 0x01, 0xFE});
    EXPECT_EQ(host.ReadByte(), 'h');
    host.Send({'K', 'B', 'o', 'T', 'a', 'p', 's'});
    EXPECT_EQ(host.ReadByte(), 'E');
}

TEST(GenericBoard, FaultsAsTheStationMeetsThem) {
    // Silent: every round of the handshake costs its 500 ms and fails.
    Host silent("generic,silent");
    EXPECT_EQ(silent.Handshake(0x73, 0x69, 4), -1);
    EXPECT_EQ(silent.clock.NowMs(), 2000);
    EXPECT_EQ(silent.wire->transcript().SentBytes(), (Bytes{0x73, 0x73, 0x73, 0x73}));

    // Late by less than a round: caught in the first round; by more: in a later one.
    Host late("generic,late=300");
    EXPECT_EQ(late.Handshake(0x73, 0x69), 1);
    Host later("generic,late=1200");
    EXPECT_GT(later.Handshake(0x73, 0x69), 1);

    // Noise: handshakes need more rounds now and then, ExpectByte skips the stray bytes.
    Host noisy("generic,noise");
    int rounds = 0;
    for (int i = 0; i < 10; ++i) {
        int r = noisy.Handshake(0x73, 0x69, 20);
        ASSERT_GT(r, 0);
        rounds += r;
        noisy.Send({0x32});
        EXPECT_TRUE(noisy.Expect(0x37));
    }
    EXPECT_GT(rounds, 10);
    EXPECT_EQ(noisy.board->Erases, 10);

    // Drop: the port vanishes after the tenth byte.
    Host drop("generic,drop=10");
    for (int i = 0; i < 9; ++i) drop.Send({0x73});
    uint8_t b = 0x73;
    EXPECT_EQ(drop.dev->Write(&b, 1), 1);
    EXPECT_EQ(drop.dev->WaitReadable(10), -EIO);
    EXPECT_EQ(drop.dev->Write(&b, 1), -EIO);
}

TEST(GenericBoard, ForgetsACommandTheStationAbandoned) {
    Host host;
    ASSERT_EQ(host.Handshake(0x78, 0x79), 1);  // bank port, then the station is stopped
    host.clock.SleepMs(5000);
    EXPECT_EQ(host.Handshake(0x73, 0x69), 1);  // a new run: 's' is a command again
    EXPECT_FALSE(host.board->BankPortSet);
}

TEST(GenericBoard, SeesLinesAndBaud) {
    Host host("generic", 19200);
    host.clock.SleepMs(40);
    ASSERT_EQ(host.dev->SetDtr(true), 0);
    host.clock.SleepMs(100);
    ASSERT_EQ(host.dev->SetRts(true), 0);
    EXPECT_EQ(host.board->LineLog,
              (std::vector<std::string>{"DTR 1 RTS 0 @40", "DTR 1 RTS 1 @140"}));
    EXPECT_EQ(host.board->LastBaud, 19200u);
    EXPECT_NE(host.board->Describe().find("signature 1E 95 02"), std::string::npos);
}

TEST(Boards, SpecsMakeBoardsOrSayWhatIsWrong) {
    struct Case {
        const char* spec;
        const char* error;  // part of the error; nullptr when the board text is good
    };
    const Case cases[] = {
        {"generic", nullptr},
        {" Generic , SILENT ", nullptr},
        {"generic,late=300,drop=0x10,noise,negative", nullptr},
        {"generic,flash=0x08,sig=1e9502,sum=1234,", nullptr},
        {"", "no board named"},
        {"nosuch", "unknown board \"nosuch\" (boards: generic"},
        {"generic,fast", "board \"generic\" has no option \"fast\""},
        {"generic,late=abc", "option \"late\" needs a number from 0 to"},
        {"generic,late=-5", "option \"late\" needs a number"},
        {"generic,drop", "option \"drop\" needs a number"},
        {"generic,silent=1", "option \"silent\" takes no value"},
        {"generic,flash=256", "option \"flash\" needs a number from 0 to 255"},
        {"generic,sig=1E95", "option \"sig\" needs 6 hexadecimal digits"},
        {"generic,sum=12G4", "option \"sum\" needs 4 hexadecimal digits"},
    };
    for (const Case& c : cases) {
        std::string error;
        std::unique_ptr<Board> board = MakeBoard(c.spec, error);
        if (!c.error) {
            EXPECT_NE(board, nullptr) << c.spec << ": " << error;
        } else {
            EXPECT_EQ(board, nullptr) << c.spec;
            EXPECT_NE(error.find(c.error), std::string::npos) << c.spec << ": " << error;
        }
    }
    std::string error;
    auto b = MakeBoard("generic,late=300,drop=0x10,noise,flash=0x08,sum=1234", error);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->faults.LateMs, 300);
    EXPECT_EQ(b->faults.DropAfterBytes, 16);
    EXPECT_TRUE(b->faults.Noise);
    EXPECT_FALSE(b->faults.Silent);
    auto& g = dynamic_cast<GenericBoard&>(*b);
    EXPECT_EQ(g.FlashCode, 0x08);
    EXPECT_EQ(g.Checksum, 0x1234);
    EXPECT_NE(b->Describe().find(", noise, late=300, drop=16"), std::string::npos);

    ASSERT_FALSE(BoardHelp().empty());
    EXPECT_EQ(BoardHelp()[0].first, "generic");
}

TEST(Boards, PoolKeepsOneBoardPerSpecAcrossReopens) {
    VirtualClock clock;
    auto factory = SimDeviceFactory(clock);
    EXPECT_EQ(factory("nosuch"), nullptr);

    SimPortPool pool(clock);
    {
        auto dev = pool.MakeDevice("generic");
        ASSERT_NE(dev, nullptr);
        EXPECT_EQ(dev->Name(), "sim:generic");
        ASSERT_EQ(dev->Open(), 0);
        uint8_t x = 0x32;
        dev->Write(&x, 1);
        clock.SleepMs(10);
        dev->Close();
    }
    auto again = pool.Factory()("generic");
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->Open(), 0);
    EXPECT_EQ(pool.Find("generic")->BoardAs<GenericBoard>().Erases, 1);
    EXPECT_EQ(pool.Find("generic,silent"), nullptr);
    EXPECT_EQ(pool.MakeDevice("generic,bogus"), nullptr);
    EXPECT_NE(pool.LastError().find("bogus"), std::string::npos);
}

}  // namespace
}  // namespace ps::sim

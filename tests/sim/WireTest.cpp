// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "sim/SimPortDevice.h"
#include "sim/VirtualClock.h"
#include "sim/Wire.h"

namespace ps::sim {
namespace {

// Answers every byte b with `reply` (default b + 1) after `delayMs`, and logs what it saw
// with the board's own time.
class EchoBoard : public Board {
public:
    std::string Kind() const override { return "echo"; }
    void OnByte(uint8_t b) override {
        Log.push_back("byte " + std::to_string(b) + " @" + std::to_string(NowMs()));
        if (!Reply.empty())
            Send(Reply, DelayMs);
        else
            Send(static_cast<uint8_t>(b + 1), DelayMs);
    }
    void OnLines(bool dtr, bool rts) override {
        Log.push_back("lines " + std::to_string(dtr) + std::to_string(rts) + " @" +
                      std::to_string(NowMs()));
    }
    void OnBaud(uint32_t baud) override {
        Log.push_back("baud " + std::to_string(baud) + " @" + std::to_string(NowMs()));
    }
    std::vector<uint8_t> Reply;
    int DelayMs = 0;
    std::vector<std::string> Log;
};

struct Line {
    VirtualClock clock;
    std::shared_ptr<Wire> wire;
    EchoBoard* board;
    std::unique_ptr<SimPortDevice> dev;

    explicit Line(uint32_t baud = 9600) {
        auto b = std::make_unique<EchoBoard>();
        board = b.get();
        wire = std::make_shared<Wire>(clock, std::move(b), "sim:echo");
        dev = std::make_unique<SimPortDevice>(wire);
        EXPECT_EQ(dev->Open(), 0);
        LineSettings s;
        s.Baud = baud;
        EXPECT_EQ(dev->ApplyLineSettings(s), 0);
    }
    long Write(std::vector<uint8_t> bytes) { return dev->Write(bytes.data(), bytes.size()); }
    std::vector<uint8_t> ReadAll() {
        std::vector<uint8_t> out(256);
        long n = dev->Read(out.data(), out.size());
        out.resize(n > 0 ? static_cast<size_t>(n) : 0);
        return out;
    }
};

TEST(Wire, AnswersArriveAfterTheLineTimeOfBothDirections) {
    // At 1200 baud a byte takes 8.33 ms: the board has it at 8 ms, its answer is readable
    // once its last bit is in, at 16.7 ms, and not a moment before.
    Line line(1200);
    ASSERT_EQ(line.Write({0x10}), 1);
    EXPECT_EQ(line.dev->BytesWaiting(), 0);
    line.clock.SleepMs(16);
    EXPECT_EQ(line.dev->BytesWaiting(), 0);
    EXPECT_EQ(line.board->Log.back(), "byte 16 @8");
    line.clock.SleepMs(1);
    EXPECT_EQ(line.dev->BytesWaiting(), 1);
    EXPECT_EQ(line.ReadAll(), std::vector<uint8_t>{0x11});

    // WaitReadable sleeps the clock exactly until the answer is in, to the microsecond.
    VirtualClock& c = line.clock;
    const int64_t t0 = c.NowUs();
    ASSERT_EQ(line.Write({0x20}), 1);
    EXPECT_EQ(line.dev->WaitReadable(1000), 1);
    EXPECT_EQ(c.NowUs() - t0, 2 * Wire::ByteTimeUs(1200));
    EXPECT_EQ(line.ReadAll(), std::vector<uint8_t>{0x21});

    // A board's delay comes on top of the line time.
    line.board->DelayMs = 100;
    const int64_t t1 = c.NowMs();
    ASSERT_EQ(line.Write({0x30}), 1);
    EXPECT_EQ(line.dev->WaitReadable(50), 0);
    EXPECT_EQ(c.NowMs() - t1, 50);
    EXPECT_EQ(line.dev->WaitReadable(1000), 1);
    EXPECT_EQ(c.NowMs() - t1, 117);
}

TEST(Wire, BytesOfOneWriteAndOfOneAnswerArePacedAtLineSpeed) {
    Line line(1200);
    line.board->Reply = {1, 2, 3};
    // Three bytes written at once reach the board 8.3 ms apart.
    ASSERT_EQ(line.Write({7, 8, 9}), 3);
    line.clock.SleepMs(30);
    line.dev->BytesWaiting();
    ASSERT_GE(line.board->Log.size(), 3u);
    EXPECT_EQ(line.board->Log[line.board->Log.size() - 3], "byte 7 @8");
    EXPECT_EQ(line.board->Log[line.board->Log.size() - 2], "byte 8 @16");
    EXPECT_EQ(line.board->Log[line.board->Log.size() - 1], "byte 9 @25");

    // The first answer (1 2 3, sent at 8.3 ms) comes in byte by byte behind it.
    Line l2(1200);
    l2.board->Reply = {1, 2, 3};
    ASSERT_EQ(l2.Write({7}), 1);
    l2.clock.SleepMs(17);
    EXPECT_EQ(l2.dev->BytesWaiting(), 1);
    l2.clock.SleepMs(8);
    EXPECT_EQ(l2.dev->BytesWaiting(), 2);
    l2.clock.SleepMs(9);
    EXPECT_EQ(l2.dev->BytesWaiting(), 3);
    EXPECT_EQ(l2.ReadAll(), (std::vector<uint8_t>{1, 2, 3}));
}

TEST(Wire, SilentBoardLetsWaitReadablePassTheWholeLimit) {
    Line line;
    line.board->faults.Silent = true;
    ASSERT_EQ(line.Write({0x73}), 1);
    EXPECT_EQ(line.dev->WaitReadable(500), 0);
    EXPECT_EQ(line.clock.NowMs(), 500);
    EXPECT_EQ(line.dev->WaitReadable(0), 0);
    EXPECT_EQ(line.dev->BytesWaiting(), 0);
    // The board still saw the byte; only its answers are lost.
    EXPECT_EQ(line.board->Log.back(), "byte 115 @1");
    EXPECT_EQ(line.wire->transcript().SentBytes(), std::vector<uint8_t>{0x73});
}

TEST(Wire, LateBoardAnswersThatMuchLater) {
    Line line(115200);
    line.board->faults.LateMs = 300;
    ASSERT_EQ(line.Write({0x01}), 1);
    EXPECT_EQ(line.dev->WaitReadable(299), 0);
    EXPECT_EQ(line.dev->WaitReadable(10), 1);
    EXPECT_EQ(line.clock.NowUs(), 300000 + 2 * Wire::ByteTimeUs(115200));
    EXPECT_EQ(line.ReadAll(), std::vector<uint8_t>{0x02});
}

TEST(Wire, NoiseComesBeforeAnswersFromItsOwnRangeAndIsRepeatable) {
    auto run = [] {
        Line line(115200);
        line.board->faults.Noise = true;
        std::vector<uint8_t> got;
        for (int i = 0; i < 20; ++i) {
            line.Write({static_cast<uint8_t>(0x40 + i)});
            line.clock.SleepMs(5);
            for (uint8_t b : line.ReadAll()) got.push_back(b);
        }
        return got;
    };
    const std::vector<uint8_t> got = run();
    std::vector<uint8_t> answers;
    int noise = 0;
    for (uint8_t b : got) {
        if (b >= 0xE0 && b <= 0xEF)
            ++noise;
        else
            answers.push_back(b);
    }
    std::vector<uint8_t> want;
    for (int i = 0; i < 20; ++i) want.push_back(static_cast<uint8_t>(0x41 + i));
    EXPECT_EQ(answers, want);
    EXPECT_GT(noise, 0);
    EXPECT_EQ(run(), got);  // the same noise every time
}

TEST(Wire, DropAfterBytesMakesTheDeviceVanish) {
    Line line;
    line.board->faults.DropAfterBytes = 3;
    EXPECT_EQ(line.Write({1, 2}), 2);
    EXPECT_EQ(line.dev->WaitReadable(100), 1);
    // The third byte still goes out; the fourth finds no device.
    EXPECT_EQ(line.Write({3, 4}), -EIO);
    EXPECT_TRUE(line.wire->Dead());
    EXPECT_EQ(line.wire->transcript().SentBytes(), (std::vector<uint8_t>{1, 2, 3}));
    uint8_t buf[4];
    EXPECT_EQ(line.dev->BytesWaiting(), -EIO);
    EXPECT_EQ(line.dev->Read(buf, 4), -EIO);
    EXPECT_EQ(line.dev->WaitReadable(100), -EIO);
    EXPECT_EQ(line.dev->Purge(), -EIO);
    EXPECT_EQ(line.dev->SetDtr(true), -EIO);
    EXPECT_EQ(line.dev->ApplyLineSettings(LineSettings{}), -EIO);
    EXPECT_EQ(line.Write({5}), -EIO);
    // A vanished device cannot be opened again.
    line.dev->Close();
    SimPortDevice again(line.wire);
    EXPECT_EQ(again.Open(), -ENODEV);

    // A write that ends exactly at the limit succeeds; the next call fails.
    Line exact;
    exact.board->faults.DropAfterBytes = 2;
    EXPECT_EQ(exact.Write({1, 2}), 2);
    EXPECT_EQ(exact.dev->WaitReadable(10), -EIO);
}

TEST(Wire, PurgeDiscardsOnlyWhatHasArrived) {
    Line line(1200);
    line.board->Reply = {1, 2, 3};
    ASSERT_EQ(line.Write({9}), 1);
    line.clock.SleepMs(26);  // 1 and 2 are in, 3 is still on the line
    EXPECT_EQ(line.dev->BytesWaiting(), 2);
    EXPECT_EQ(line.dev->Purge(), 0);
    EXPECT_EQ(line.dev->BytesWaiting(), 0);
    EXPECT_EQ(line.dev->WaitReadable(100), 1);
    EXPECT_EQ(line.ReadAll(), std::vector<uint8_t>{3});
    EXPECT_EQ(line.wire->transcript().Purges, 1);
}

TEST(Wire, ClosingLosesUnreadBytesButTheBoardKeepsItsState) {
    Line line(1200);
    line.board->Reply = {1, 2, 3};
    ASSERT_EQ(line.Write({9}), 1);
    line.clock.SleepMs(20);  // 1 in; 2 and 3 arrive while the port is closed
    line.dev->Close();
    EXPECT_EQ(line.dev->BytesWaiting(), -EBADF);
    line.clock.SleepMs(100);

    // A second device on the same wire is the same board; the lost bytes stay lost.
    auto dev2 = std::make_unique<SimPortDevice>(line.wire);
    ASSERT_EQ(dev2->Open(), 0);
    SimPortDevice third(line.wire);
    EXPECT_EQ(third.Open(), -EBUSY);  // one holder at a time
    EXPECT_EQ(dev2->WaitReadable(50), 0);
    EXPECT_EQ(line.board->Log.size(), 2u);  // baud, then the byte: nothing forgotten
    EXPECT_EQ(line.wire->transcript().Opens, 2);
    EXPECT_EQ(line.wire->transcript().Closes, 1);
}

TEST(Wire, LinesAndBaudReachTheBoardInOrderWithTheBytes) {
    Line line(1200);
    // DTR set right after a write overtakes nothing: the board sees it at once, before
    // the byte that is still on the line.
    ASSERT_EQ(line.Write({0x41}), 1);
    ASSERT_EQ(line.dev->SetDtr(true), 0);
    line.clock.SleepMs(20);
    ASSERT_EQ(line.dev->SetRts(true), 0);
    LineSettings s;
    s.Baud = 19200;
    ASSERT_EQ(line.dev->ApplyLineSettings(s), 0);
    ASSERT_EQ(line.dev->ApplyLineSettings(s), 0);  // no change, no event
    ASSERT_EQ(line.dev->SetDtr(false), 0);
    EXPECT_EQ(line.board->Log,
              (std::vector<std::string>{"baud 1200 @0", "lines 10 @0", "byte 65 @8", "lines 11 @20",
                                        "baud 19200 @20", "lines 01 @20"}));
    const Transcript& t = line.wire->transcript();
    EXPECT_EQ(t.LineTexts(), (std::vector<std::string>{"DTR 1", "RTS 1", "DTR 0"}));
    ASSERT_EQ(t.Bauds.size(), 2u);
    EXPECT_EQ(t.Bauds[1].Baud, 19200u);
    EXPECT_EQ(t.Bauds[1].AtMs, 20);
    ASSERT_EQ(t.Writes.size(), 1u);
    EXPECT_EQ(t.Sent[0].ArrivesUs, 8333);
    EXPECT_EQ(t.EventTexts(), (std::vector<std::string>{"OPEN", "BAUD 1200", "TX 41", "DTR 1",
                                                        "RTS 1", "BAUD 19200", "DTR 0"}));
    EXPECT_TRUE(line.wire->BoardDtr() == false && line.wire->BoardRts());
}

TEST(Wire, WithoutRecordingTheTranscriptKeepsOnlyCounts) {
    Line line;
    line.wire->SetRecording(false);
    ASSERT_EQ(line.Write({1, 2, 3}), 3);
    ASSERT_EQ(line.dev->SetDtr(true), 0);
    line.clock.SleepMs(10);
    EXPECT_EQ(line.ReadAll().size(), 3u);  // the line itself works as before
    EXPECT_EQ(line.dev->Purge(), 0);
    const Transcript& t = line.wire->transcript();
    EXPECT_TRUE(t.Sent.empty() && t.Writes.empty() && t.Lines.empty() && t.Received.empty());
    EXPECT_EQ(t.Events.size(), 2u);  // "OPEN" and "BAUD 9600" from before
    EXPECT_EQ(t.Purges, 1);
}

TEST(Wire, ClosedDeviceRefusesEveryCall) {
    VirtualClock clock;
    auto wire = std::make_shared<Wire>(clock, std::make_unique<EchoBoard>(), "sim:echo");
    SimPortDevice dev(wire);
    uint8_t b = 0;
    EXPECT_FALSE(dev.IsOpen());
    EXPECT_EQ(dev.Write(&b, 1), -EBADF);
    EXPECT_EQ(dev.Read(&b, 1), -EBADF);
    EXPECT_EQ(dev.WaitReadable(10), -EBADF);
    EXPECT_EQ(dev.SetRts(true), -EBADF);
    EXPECT_EQ(clock.NowMs(), 0);
    EXPECT_EQ(dev.Name(), "sim:echo");
}

}  // namespace
}  // namespace ps::sim

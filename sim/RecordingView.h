// SPDX-License-Identifier: MIT
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "display/StationView.h"
#include "link/Clock.h"

namespace ps::sim {

// A view for tests: keeps every call in order so a test can assert on what the operator
// saw, and stands in for the operator with scripted reactions. Reactions run inside
// PumpMessages, the only moment at which the operator's input takes effect; the view does
// not own the station, so an action is a function the test provides, e.g.
//   view.OnContinueShown([&] { ps::ContinueBtnClick(st); });
//   view.AtStatus("connecting...", [&] { ps::StopBtnClick(st); });
// Message boxes are closed at once (after OnMessage, if set, has run).
class RecordingView : public StationView {
public:
    enum class CallKind {
        Status,
        FileName,
        Progress,
        MapSize,
        MapVisible,
        BytesVisible,
        Block,
        ClearBlocks,
        ByteLabel,
        Panels,
        Message,
        Terminate,
        Warning
    };
    // One call; the fields that do not belong to the kind are left as they are.
    struct Call {
        CallKind Kind;
        int64_t AtMs = -1;        // the clock's time when a clock is set, else -1
        std::string Text;         // status, file name, byte label, message
        uint32_t Colour = 0;      // status and block colour
        int A = 0, B = 0, C = 0;  // progress; rows/cols; row/col; label index; panels 0/1
        MessageKind Message = MessageKind::Information;
    };
    struct StatusLine {
        std::string Text;
        uint32_t Colour;
        int64_t AtMs;
    };
    struct MessageBox {
        MessageKind Kind;
        std::string Text;
    };

    RecordingView() = default;
    explicit RecordingView(Clock& clock) : clock_(&clock) {}
    // Stamps later calls with this clock's time (nullptr: no stamps).
    void SetClock(Clock* clock) { clock_ = clock; }

    // StationView.
    void ShowStatus(const std::string& text, uint32_t colour) override;
    void ShowFileName(const std::string& text) override;
    void SetProgress(int percent) override;
    void SetMapSize(int rows, int cols) override;
    void SetMapVisible(bool visible) override;
    void SetBytesVisible(bool visible) override;
    void SetBlock(int row, int col, uint32_t colour) override;
    void ClearBlocks() override;
    void SetByteLabel(int index, const std::string& text) override;
    void ShowPanels(bool start, bool stop, bool cont) override;
    void ShowMessage(MessageKind kind, const std::string& text) override;
    void PumpMessages() override;
    void RequestTerminate() override;
    void ShowWarning(const std::string& text) override;

    // ---- What was shown ----
    std::vector<Call> Calls;
    long Pumps = 0;
    int TerminateRequests = 0;

    std::vector<StatusLine> Statuses() const;
    std::vector<std::string> StatusTexts() const;
    // The last status shown ("" when none) and its colour.
    std::string LastStatus() const;
    uint32_t LastStatusColour() const;
    bool SawStatus(const std::string& text) const;  // exactly this text, ever
    bool SawStatusContaining(const std::string& part) const;
    std::vector<std::string> FileNames() const;
    std::vector<int> ProgressValues() const;
    int LastProgress() const;  // -1 when never set
    std::vector<MessageBox> Messages() const;
    std::vector<std::string> Warnings() const;
    std::vector<Call> Blocks() const;  // Block calls: A row, B col, Colour
    std::vector<Call> OfKind(CallKind kind) const;
    // The panels shown last: start, stop, continue (all false before any call).
    bool StartShown() const { return start_; }
    bool StopShown() const { return stop_; }
    bool ContinueShown() const { return cont_; }
    // Every call as a line ("status [0000FF] BREAK", "panels 1 0 0", ...), for failure
    // messages and quick comparisons.
    std::vector<std::string> Lines() const;
    std::string Dump() const;
    void ClearRecord();

    // ---- The operator ----
    // Called on every pump, after the scripted reactions.
    std::function<void()> OnPump;
    // Called as the calls come in (inside the flow's call, not at a pump).
    std::function<void(const std::string& text, uint32_t colour)> OnStatus;
    std::function<void(bool start, bool stop, bool cont)> OnPanels;
    std::function<void(MessageKind kind, const std::string& text)> OnMessage;

    // Once, at the first pump after a status containing `part` has been shown (from now on).
    void AtStatus(const std::string& part, std::function<void()> action);
    // Once, at the n-th pump from now (n >= 1).
    void AfterPumps(long n, std::function<void()> action);
    // Once, at the first pump at or after time `ms` of the view's clock (needs a clock).
    void AtTime(int64_t ms, std::function<void()> action);
    // At the first pump after each showing of the CONTINUE panel.
    void OnContinueShown(std::function<void()> action);
    // Once, at the first pump for which `condition` holds.
    void When(std::function<bool()> condition, std::function<void()> action);
    void ClearReactions();

private:
    struct Reaction {
        std::function<bool()> Condition;
        std::function<void()> Action;
        bool Done = false;
    };
    struct StatusWatch {
        std::string Part;
        std::shared_ptr<bool> Seen;
    };
    Call& Add(CallKind kind);
    int64_t Now() const { return clock_ ? clock_->NowMs() : -1; }

    Clock* clock_ = nullptr;
    bool start_ = false, stop_ = false, cont_ = false;
    bool continuePending_ = false;
    std::function<void()> onContinue_;
    std::vector<Reaction> reactions_;
    std::vector<StatusWatch> statusWatches_;
};

}  // namespace ps::sim

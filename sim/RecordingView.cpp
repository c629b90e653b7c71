// SPDX-License-Identifier: MIT
#include "sim/RecordingView.h"

#include <cstdio>
#include <memory>

namespace ps::sim {

RecordingView::Call& RecordingView::Add(CallKind kind) {
    Call c;
    c.Kind = kind;
    c.AtMs = Now();
    Calls.push_back(std::move(c));
    return Calls.back();
}

void RecordingView::ShowStatus(const std::string& text, uint32_t colour) {
    Call& c = Add(CallKind::Status);
    c.Text = text;
    c.Colour = colour;
    for (StatusWatch& w : statusWatches_)
        if (text.find(w.Part) != std::string::npos) *w.Seen = true;
    if (OnStatus) OnStatus(text, colour);
}

void RecordingView::ShowFileName(const std::string& text) {
    Add(CallKind::FileName).Text = text;
}

void RecordingView::SetProgress(int percent) {
    Add(CallKind::Progress).A = percent;
}

void RecordingView::SetMapSize(int rows, int cols) {
    Call& c = Add(CallKind::MapSize);
    c.A = rows;
    c.B = cols;
}

void RecordingView::SetMapVisible(bool visible) {
    Add(CallKind::MapVisible).A = visible;
}

void RecordingView::SetBytesVisible(bool visible) {
    Add(CallKind::BytesVisible).A = visible;
}

void RecordingView::SetBlock(int row, int col, uint32_t colour) {
    Call& c = Add(CallKind::Block);
    c.A = row;
    c.B = col;
    c.Colour = colour;
}

void RecordingView::ClearBlocks() {
    Add(CallKind::ClearBlocks);
}

void RecordingView::SetByteLabel(int index, const std::string& text) {
    Call& c = Add(CallKind::ByteLabel);
    c.A = index;
    c.Text = text;
}

void RecordingView::ShowPanels(bool start, bool stop, bool cont) {
    Call& c = Add(CallKind::Panels);
    c.A = start;
    c.B = stop;
    c.C = cont;
    if (cont && !cont_) continuePending_ = true;
    if (!cont) continuePending_ = false;
    start_ = start;
    stop_ = stop;
    cont_ = cont;
    if (OnPanels) OnPanels(start, stop, cont);
}

void RecordingView::ShowMessage(MessageKind kind, const std::string& text) {
    Call& c = Add(CallKind::Message);
    c.Message = kind;
    c.Text = text;
    if (OnMessage) OnMessage(kind, text);
    // The box is closed at once: returning is the operator pressing OK.
}

void RecordingView::RequestTerminate() {
    Add(CallKind::Terminate);
    ++TerminateRequests;
}

void RecordingView::ShowWarning(const std::string& text) {
    Add(CallKind::Warning).Text = text;
}

void RecordingView::PumpMessages() {
    ++Pumps;
    // Reactions may add reactions; index, do not iterate, since the vector may grow.
    for (size_t i = 0; i < reactions_.size(); ++i) {
        if (reactions_[i].Done || !reactions_[i].Condition()) continue;
        reactions_[i].Done = true;
        std::function<void()> action = reactions_[i].Action;
        action();
    }
    if (continuePending_ && onContinue_) {
        continuePending_ = false;
        onContinue_();
    }
    if (OnPump) OnPump();
}

// ---- reactions ----

void RecordingView::When(std::function<bool()> condition, std::function<void()> action) {
    reactions_.push_back({std::move(condition), std::move(action)});
}

void RecordingView::AtStatus(const std::string& part, std::function<void()> action) {
    auto seen = std::make_shared<bool>(false);
    statusWatches_.push_back({part, seen});
    When([seen] { return *seen; }, std::move(action));
}

void RecordingView::AfterPumps(long n, std::function<void()> action) {
    const long at = Pumps + (n < 1 ? 1 : n);
    When([this, at] { return Pumps >= at; }, std::move(action));
}

void RecordingView::AtTime(int64_t ms, std::function<void()> action) {
    When([this, ms] { return clock_ && clock_->NowMs() >= ms; }, std::move(action));
}

void RecordingView::OnContinueShown(std::function<void()> action) {
    onContinue_ = std::move(action);
    if (cont_) continuePending_ = true;  // already showing: act at the next pump
}

void RecordingView::ClearReactions() {
    reactions_.clear();
    statusWatches_.clear();
    onContinue_ = nullptr;
    continuePending_ = false;
}

// ---- queries ----

std::vector<RecordingView::Call> RecordingView::OfKind(CallKind kind) const {
    std::vector<Call> out;
    for (const Call& c : Calls)
        if (c.Kind == kind) out.push_back(c);
    return out;
}

std::vector<RecordingView::StatusLine> RecordingView::Statuses() const {
    std::vector<StatusLine> out;
    for (const Call& c : Calls)
        if (c.Kind == CallKind::Status) out.push_back({c.Text, c.Colour, c.AtMs});
    return out;
}

std::vector<std::string> RecordingView::StatusTexts() const {
    std::vector<std::string> out;
    for (const Call& c : Calls)
        if (c.Kind == CallKind::Status) out.push_back(c.Text);
    return out;
}

std::string RecordingView::LastStatus() const {
    for (auto it = Calls.rbegin(); it != Calls.rend(); ++it)
        if (it->Kind == CallKind::Status) return it->Text;
    return "";
}

uint32_t RecordingView::LastStatusColour() const {
    for (auto it = Calls.rbegin(); it != Calls.rend(); ++it)
        if (it->Kind == CallKind::Status) return it->Colour;
    return StatusColorNormal;
}

bool RecordingView::SawStatus(const std::string& text) const {
    for (const Call& c : Calls)
        if (c.Kind == CallKind::Status && c.Text == text) return true;
    return false;
}

bool RecordingView::SawStatusContaining(const std::string& part) const {
    for (const Call& c : Calls)
        if (c.Kind == CallKind::Status && c.Text.find(part) != std::string::npos) return true;
    return false;
}

std::vector<std::string> RecordingView::FileNames() const {
    std::vector<std::string> out;
    for (const Call& c : Calls)
        if (c.Kind == CallKind::FileName) out.push_back(c.Text);
    return out;
}

std::vector<int> RecordingView::ProgressValues() const {
    std::vector<int> out;
    for (const Call& c : Calls)
        if (c.Kind == CallKind::Progress) out.push_back(c.A);
    return out;
}

int RecordingView::LastProgress() const {
    for (auto it = Calls.rbegin(); it != Calls.rend(); ++it)
        if (it->Kind == CallKind::Progress) return it->A;
    return -1;
}

std::vector<RecordingView::MessageBox> RecordingView::Messages() const {
    std::vector<MessageBox> out;
    for (const Call& c : Calls)
        if (c.Kind == CallKind::Message) out.push_back({c.Message, c.Text});
    return out;
}

std::vector<std::string> RecordingView::Warnings() const {
    std::vector<std::string> out;
    for (const Call& c : Calls)
        if (c.Kind == CallKind::Warning) out.push_back(c.Text);
    return out;
}

std::vector<RecordingView::Call> RecordingView::Blocks() const {
    return OfKind(CallKind::Block);
}

std::vector<std::string> RecordingView::Lines() const {
    std::vector<std::string> out;
    char buf[64];
    for (const Call& c : Calls) {
        switch (c.Kind) {
            case CallKind::Status:
                std::snprintf(buf, sizeof buf, "status [%06X] ", c.Colour);
                out.push_back(buf + c.Text);
                break;
            case CallKind::FileName:
                out.push_back("file " + c.Text);
                break;
            case CallKind::Progress:
                out.push_back("progress " + std::to_string(c.A));
                break;
            case CallKind::MapSize:
                out.push_back("map " + std::to_string(c.A) + "x" + std::to_string(c.B));
                break;
            case CallKind::MapVisible:
                out.push_back("map visible " + std::to_string(c.A));
                break;
            case CallKind::BytesVisible:
                out.push_back("bytes visible " + std::to_string(c.A));
                break;
            case CallKind::Block:
                std::snprintf(buf, sizeof buf, "block %d %d [%06X]", c.A, c.B, c.Colour);
                out.push_back(buf);
                break;
            case CallKind::ClearBlocks:
                out.push_back("clear blocks");
                break;
            case CallKind::ByteLabel:
                out.push_back("label " + std::to_string(c.A) + " " + c.Text);
                break;
            case CallKind::Panels:
                out.push_back("panels " + std::to_string(c.A) + " " + std::to_string(c.B) + " " +
                              std::to_string(c.C));
                break;
            case CallKind::Message:
                out.push_back(
                    std::string(c.Message == MessageKind::Error ? "error box " : "info box ") +
                    c.Text);
                break;
            case CallKind::Terminate:
                out.push_back("terminate");
                break;
            case CallKind::Warning:
                out.push_back("warning " + c.Text);
                break;
        }
    }
    return out;
}

std::string RecordingView::Dump() const {
    std::string out;
    for (const std::string& line : Lines()) out += line + "\n";
    return out;
}

void RecordingView::ClearRecord() {
    Calls.clear();
    Pumps = 0;
    TerminateRequests = 0;
}

}  // namespace ps::sim

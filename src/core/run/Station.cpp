// SPDX-License-Identifier: MIT
#include "run/Station.h"

#include <algorithm>

#include "images/TMOT.h"
#include "production/RunRecord.h"

namespace ps {

Station::Station(Clock& c, StationView& v)
    : clock(c), view(v), blocks_(MapMaxRows * MapMaxCols, EmptyColour) {
    // Every station, the window's and the terminal's, gets its port set up here; the other
    // properties keep the component's defaults (8N1, DTR and RTS under program control).
    Comm.SetFlowControl(StationFlowControl);
    Comm.SetReadBufSize(StationReadBufSize);
    Comm.SetWriteBufSize(StationWriteBufSize);
}

Station::~Station() = default;

void Station::SetStatusColour(uint32_t colour) {
    if (colour == statusColour_) return;
    statusColour_ = colour;
    view.ShowStatus(statusText_, statusColour_);
}

void Station::Status(const std::string& text) {
    statusText_ = text;
    view.ShowStatus(statusText_, statusColour_);
}

void Station::AppendStatus(const std::string& text) {
    Status(statusText_ + text);
}

void Station::Status(const std::string& text, uint32_t colour) {
    statusColour_ = colour;
    Status(text);
}

void Station::FileName(const std::string& text) {
    view.ShowFileName(text);
}

void Station::Progress(int percent) {
    view.SetProgress(ClampProgress(percent));
}

void Station::SetBlock(int row, int col, uint32_t colour) {
    row = row < 0 ? 0 : (row >= MapMaxRows ? MapMaxRows - 1 : row);
    col = col < 0 ? 0 : (col >= MapMaxCols ? MapMaxCols - 1 : col);
    uint32_t& stored = blocks_[static_cast<size_t>(row) * MapMaxCols + col];
    if (stored == colour) return;
    stored = colour;
    view.SetBlock(row, col, colour);
}

uint32_t Station::GetBlock(int row, int col) const {
    row = row < 0 ? 0 : (row >= MapMaxRows ? MapMaxRows - 1 : row);
    col = col < 0 ? 0 : (col >= MapMaxCols ? MapMaxCols - 1 : col);
    return blocks_[static_cast<size_t>(row) * MapMaxCols + col];
}

void Station::ClearBlocks() {
    std::fill(blocks_.begin(), blocks_.end(), EmptyColour);
    view.ClearBlocks();
}

void Station::ByteLabel(int index, const std::string& text) {
    view.SetByteLabel(index, text);
}

void Station::ShowMapGeometry() {
    view.SetMapSize(Map.ShownRows(), Map.ShownCols());
}

void Station::ImageFileError(const std::string& message) {
    // A run must not go on to report success on an empty or partial image. STOP keeps its
    // meaning if it came first. Set before the message, so that the box can tell what was
    // tried.
    if (RunError == RunOk) RunError = RunImageFile;
    view.ShowMessage(MessageKind::Error, message);
    view.RequestTerminate();
    TerminateRequested = true;
}

void Station::ImageFileWarning(const std::string& message) {
    view.ShowWarning(message);
    if (Recorder) Recorder->Warning(message);
}

void Station::AllocateImageBuffers() {
    for (auto& buffer : ImageBuffers) buffer = std::make_unique<uint8_t[]>(ImageBufferSize);
}

void Station::ReleaseImageBuffers() {
    for (auto& buffer : ImageBuffers) buffer.reset();
}

}  // namespace ps

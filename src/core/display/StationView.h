// SPDX-License-Identifier: MIT
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace ps {

// Colours are 0x00BBGGRR values, as the panel and the status line use them.
constexpr uint32_t StatusColorNormal = 0x000000;  // black: progress and success
constexpr uint32_t StatusColorError = 0x0000FF;   // red: every error and "BREAK"
constexpr uint32_t EmptyColour = 0xFFFFFF;        // nothing written to the block
constexpr uint32_t LoadedColour = 0xDDFFE6;       // block holds data still to be written
constexpr uint32_t ProgrammedColour = 0x80FD9F;   // block's data has been sent

enum class MessageKind { Information, Error };

// Everything a flow or the run controller shows or asks of the operator. The Qt window,
// the terminal front end and the tests' recording view implement it. Calls come from the
// run's thread only. Station (app/Station.h) keeps the status text, so a view only has to
// show what it is given.
class StationView {
public:
    virtual ~StationView() = default;

    virtual void ShowStatus(const std::string& text, uint32_t colour) = 0;
    virtual void ShowFileName(const std::string& text) = 0;
    virtual void SetProgress(int percent) = 0;  // already clamped to 0..100

    // Memory map: geometry already clamped (rows 1..100, columns 1..200).
    virtual void SetMapSize(int rows, int cols) = 0;
    virtual void SetMapVisible(bool visible) = 0;
    virtual void SetBytesVisible(bool visible) = 0;
    // Called only when the block's colour changes.
    virtual void SetBlock(int row, int col, uint32_t colour) = 0;
    virtual void ClearBlocks() = 0;
    virtual void SetByteLabel(int index, const std::string& text) = 0;  // 0 = total, 1..rows

    // START / STOP / CONTINUE panels.
    virtual void ShowPanels(bool start, bool stop, bool cont) = 0;

    // A modal message box; returns when the operator has closed it.
    virtual void ShowMessage(MessageKind kind, const std::string& text) = 0;

    // Lets the operator's input take effect (STOP, CONTINUE, EXIT, window events).
    virtual void PumpMessages() = 0;
    // Descriptors whose readiness means the view has something to do (standard input, a
    // signal pipe). A wait blocks on them together with the port, for as long as it has
    // to, and pumps once they are readable. None (a window, a test's view): the view is
    // pumped at least every WaitSliceMs instead.
    virtual std::vector<int> WakeFds() { return {}; }

    // The program is asked to end once control returns to its main loop.
    virtual void RequestTerminate() = 0;

    // Something the operator must know of that stops nothing (an image record whose
    // checksum is wrong). It replaces no text: the terminal prints it on standard error,
    // the window puts a mark beside the file-name line.
    virtual void ShowWarning(const std::string& text) { (void)text; }
};

// A view that shows nothing; a base for views that care about a few calls only.
class NullView : public StationView {
public:
    void ShowStatus(const std::string&, uint32_t) override {}
    void ShowFileName(const std::string&) override {}
    void SetProgress(int) override {}
    void SetMapSize(int, int) override {}
    void SetMapVisible(bool) override {}
    void SetBytesVisible(bool) override {}
    void SetBlock(int, int, uint32_t) override {}
    void ClearBlocks() override {}
    void SetByteLabel(int, const std::string&) override {}
    void ShowPanels(bool, bool, bool) override {}
    void ShowMessage(MessageKind, const std::string&) override {}
    void PumpMessages() override {}
    void RequestTerminate() override {}
};

}  // namespace ps

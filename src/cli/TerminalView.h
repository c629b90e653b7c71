// SPDX-License-Identifier: MIT
#pragma once
#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "display/StationView.h"

namespace ps {

class Station;
class WireTrace;

// The headless station's view: status changes as lines (red for errors on a terminal), a
// progress bar on a terminal or plain percentage lines otherwise, message boxes as printed
// messages. Standard input is read only while a step waits for CONTINUE: a line is CONTINUE,
// the end of input is STOP. SIGINT, SIGTERM and SIGHUP are STOP, and so is the end of the
// gang a run belongs to (see InstallStopSignals, GangVanished).
class TerminalView : public NullView {
public:
    TerminalView(std::FILE* out, bool colour, bool progressBar);
    // Quiet: only the last status line of each step (and message boxes), no progress.
    void SetQuiet(bool quiet) { quiet_ = quiet; }
    void Attach(Station* station) { station_ = station; }

    void ShowStatus(const std::string& text, uint32_t colour) override;
    void ShowFileName(const std::string& text) override;
    void SetProgress(int percent) override;
    // The memory map has no terminal form; the NullView base ignores it.
    void ShowPanels(bool start, bool stop, bool cont) override;
    void ShowMessage(MessageKind kind, const std::string& text) override;
    void PumpMessages() override;
    // The signal pipe of InstallStopSignals, and standard input while a step waits for
    // CONTINUE: an idle run sleeps until one of them (or the port) has something.
    std::vector<int> WakeFds() override;
    void RequestTerminate() override { terminateRequested_ = true; }
    // On standard error (never on the status lines a script reads) and in the trace.
    void ShowWarning(const std::string& text) override;

    // The wire trace and the file it writes to. A trace that cannot be written (a full
    // disk, a reader that went away or does not keep up) is warned of once and dropped;
    // the run goes on.
    void SetTrace(WireTrace* trace, std::FILE* file, const std::string& name);

    bool TerminateRequested() const { return terminateRequested_; }
    void Finish();  // ends a progress bar line

private:
    void EndBarLine();
    void PrintStatus(const std::string& text, uint32_t colour);
    void StartTransfer();
    // "  3.2 kB/s  0:12 left": bytes per second of the current transfer and the time the
    // gauge says is left, for the bar on a terminal.
    std::string RateText(int percent) const;
    void FlushQuietStatus();
    void ReadContinueInput();
    void CheckTrace();

    std::FILE* out_;
    bool colour_;
    bool progressBar_;
    Station* station_ = nullptr;
    bool barShown_ = false;
    int lastPercent_ = -1;
    bool waitingForContinue_ = false;
    bool stdinClosed_ = false;
    std::string inputLine_;
    bool terminateRequested_ = false;
    std::string lastStatus_;
    uint32_t lastColour_ = 0;
    bool quiet_ = false;
    int64_t lastDrawMs_ = 0;
    int64_t transferStartMs_ = 0;
    int64_t transferStartBytes_ = 0;
    bool quietPending_ = false;  // a status line not printed yet (quiet mode)
    WireTrace* trace_ = nullptr;
    std::FILE* traceFile_ = nullptr;
    std::string traceName_;
};

// Colour on a terminal unless the user asked for none (NO_COLOR set and not empty).
bool UseColour(bool terminal);

// First SIGINT/SIGTERM/SIGHUP: STOP at the next wait. Second: exit at once (the OS closes
// the port).
void InstallStopSignals();
bool StopSignalled();

}  // namespace ps

// SPDX-License-Identifier: MIT
#include "cli/TerminalView.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>

#include "app/RunController.h"
#include "run/Station.h"
#include "cli/Gang.h"
#include "link/WireTrace.h"

namespace ps {

namespace {
std::atomic<int> stopSignals{0};
// Written by the signal handler, so that a station sleeping on the port and standard input
// wakes for a signal too (an idle station never wakes up to look).
int stopPipe[2] = {-1, -1};

void OnStopSignal(int) {
    if (stopSignals.fetch_add(1) >= 1) _exit(128 + SIGINT);
    if (stopPipe[1] >= 0) {
        const char mark = 1;
        (void)!write(stopPipe[1], &mark, 1);
    }
}

void DrainStopPipe() {
    char buffer[64];
    while (stopPipe[0] >= 0 && read(stopPipe[0], buffer, sizeof buffer) > 0) {
    }
}

constexpr int BarWidth = 40;
constexpr int64_t BarRedrawMs = 100;
constexpr int64_t MinRateMs = 200;  // before this the rate says nothing useful
}  // namespace

void InstallStopSignals() {
    if (stopPipe[0] < 0 && pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) stopPipe[0] = -1;
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    // A hang-up (the terminal closed, the session ended) is STOP too: the run ends as a
    // stopped run does, its board left safe and its record written.
    for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaction(s, &action, nullptr);
}

bool StopSignalled() {
    return stopSignals.load() > 0 || GangVanished();
}

TerminalView::TerminalView(std::FILE* out, bool colour, bool progressBar)
    : out_(out), colour_(colour), progressBar_(progressBar) {}

void TerminalView::EndBarLine() {
    if (barShown_) {
        std::fputc('\n', out_);
        barShown_ = false;
    }
}

bool UseColour(bool terminal) {
    const char* noColour = std::getenv("NO_COLOR");
    return terminal && (noColour == nullptr || *noColour == '\0');
}

void TerminalView::Finish() {
    FlushQuietStatus();
    EndBarLine();
    std::fflush(out_);
    CheckTrace();
}

void TerminalView::SetTrace(WireTrace* trace, std::FILE* file, const std::string& name) {
    trace_ = trace;
    traceFile_ = file;
    traceName_ = name;
}

void TerminalView::CheckTrace() {
    if (traceFile_ == nullptr || !std::ferror(traceFile_)) return;
    std::fprintf(stderr,
                 "progstation-cli: the trace %s cannot be written; the run goes on without it\n",
                 traceName_.c_str());
    if (station_) station_->Comm.SetTrace(nullptr);
    trace_ = nullptr;
    traceFile_ = nullptr;
}

void TerminalView::ShowWarning(const std::string& text) {
    std::string shown = text;
    for (char& c : shown)
        if (c == '\r' || c == '\n') c = ' ';
    EndBarLine();
    std::fflush(out_);
    std::fprintf(stderr, "warning: %s\n", shown.c_str());
    std::fflush(stderr);
    if (trace_) trace_->Event("WARNING " + shown);
}

void TerminalView::ShowStatus(const std::string& text, uint32_t colour) {
    if (text == lastStatus_ && colour == lastColour_) return;
    lastStatus_ = text;
    lastColour_ = colour;
    if (quiet_) {
        quietPending_ = true;
        return;
    }
    PrintStatus(text, colour);
}

void TerminalView::FlushQuietStatus() {
    if (!quietPending_) return;
    quietPending_ = false;
    PrintStatus(lastStatus_, lastColour_);
}

void TerminalView::PrintStatus(const std::string& text, uint32_t colour) {
    EndBarLine();
    const bool error = colour == StatusColorError;
    if (colour_ && error)
        std::fprintf(out_, "\033[31m%s\033[0m\n", text.c_str());
    else
        std::fprintf(out_, "%s\n", text.c_str());
    std::fflush(out_);
}

void TerminalView::ShowFileName(const std::string& text) {
    // A new step begins: in quiet mode the last status of the step before is its verdict.
    FlushQuietStatus();
    if (quiet_) return;
    EndBarLine();
    std::fprintf(out_, "%s\n", text.c_str());
    std::fflush(out_);
}

void TerminalView::SetProgress(int percent) {
    if (percent == lastPercent_) return;
    // A gauge that goes back (0 at the start of a step, or a new transfer) starts the rate
    // of the transfer anew.
    if (percent < lastPercent_ || lastPercent_ < 0) StartTransfer();
    lastPercent_ = percent;
    // 0 is the gauge being reset at the start of a step, not progress worth a line.
    if (percent == 0 || quiet_) return;
    if (progressBar_) {
        // On a terminal at most ten redraws a second; the last one always shows.
        const int64_t now = station_ ? station_->clock.NowMs() : 0;
        if (percent < 100 && barShown_ && now - lastDrawMs_ < BarRedrawMs) return;
        lastDrawMs_ = now;
        const int filled = percent * BarWidth / 100;
        std::fprintf(out_, "\r[%s%s] %3d%%%s", std::string(filled, '#').c_str(),
                     std::string(BarWidth - filled, ' ').c_str(), percent,
                     RateText(percent).c_str());
        barShown_ = true;
    } else {
        std::fprintf(out_, "%d%%\n", percent);
    }
    std::fflush(out_);
}

void TerminalView::StartTransfer() {
    if (!station_) return;
    transferStartMs_ = station_->clock.NowMs();
    transferStartBytes_ = station_->Comm.BytesSent() + station_->Comm.BytesReceived();
}

std::string TerminalView::RateText(int percent) const {
    if (!station_ || percent <= 0) return "";
    const int64_t elapsed = station_->clock.NowMs() - transferStartMs_;
    if (elapsed < MinRateMs) return "";
    const int64_t bytes =
        station_->Comm.BytesSent() + station_->Comm.BytesReceived() - transferStartBytes_;
    const double perSecond = static_cast<double>(bytes) * 1000.0 / static_cast<double>(elapsed);
    const int64_t leftSeconds = percent >= 100 ? 0 : elapsed * (100 - percent) / percent / 1000;
    char text[64];
    std::snprintf(text, sizeof text, "  %7.1f kB/s  %2d:%02d left  \033[K", perSecond / 1000.0,
                  static_cast<int>(leftSeconds / 60), static_cast<int>(leftSeconds % 60));
    return text;
}

void TerminalView::ShowPanels(bool, bool, bool cont) {
    if (cont && !waitingForContinue_) {
        FlushQuietStatus();
        EndBarLine();
        std::fprintf(out_, "waiting for CONTINUE (press Enter; end of input stops)\n");
        std::fflush(out_);
        lastPercent_ = -1;
    }
    waitingForContinue_ = cont;
}

void TerminalView::ShowMessage(MessageKind kind, const std::string& text) {
    EndBarLine();
    std::string shown = text;
    for (char& c : shown)
        if (c == '\r') c = '\n';
    const char* tag = kind == MessageKind::Error ? "error" : "information";
    if (colour_ && kind == MessageKind::Error)
        std::fprintf(out_, "\033[31m[%s] %s\033[0m\n", tag, shown.c_str());
    else
        std::fprintf(out_, "[%s] %s\n", tag, shown.c_str());
    std::fflush(out_);
}

void TerminalView::ReadContinueInput() {
    if (stdinClosed_) {
        StopBtnClick(*station_);
        return;
    }
    pollfd p{STDIN_FILENO, POLLIN, 0};
    while (poll(&p, 1, 0) > 0) {
        char buffer[256];
        const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            stdinClosed_ = true;
            StopBtnClick(*station_);
            return;
        }
        for (ssize_t i = 0; i < n; ++i) {
            if (buffer[i] == '\n') {
                inputLine_.clear();
                ContinueBtnClick(*station_);
                return;
            }
            inputLine_ += buffer[i];
        }
    }
}

std::vector<int> TerminalView::WakeFds() {
    // Without the signal pipe a signal could not end a long sleep: pump in slices then.
    if (stopPipe[0] < 0) return {};
    std::vector<int> fds{stopPipe[0]};
    if (waitingForContinue_ && !stdinClosed_) fds.push_back(STDIN_FILENO);
    return fds;
}

void TerminalView::PumpMessages() {
    DrainStopPipe();
    CheckTrace();
    if (!station_) return;
    if (StopSignalled() && station_->RunError != RunStopped) StopBtnClick(*station_);
    if (waitingForContinue_) ReadContinueInput();
}

}  // namespace ps

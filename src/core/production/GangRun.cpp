// SPDX-License-Identifier: MIT
#include "production/GangRun.h"

#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "link/PortMap.h"
#include "production/GangProcess.h"
#include "projects/Settings.h"
#include "run/ExitStatus.h"

namespace ps {

namespace {

constexpr const char* TraceOption = "--trace";
constexpr const char* RunProgramName = "progstation-cli";
constexpr const char* GangPortOption = "--gang-port";
constexpr const char* CannotStartText = "cannot start: ";
constexpr const char* UpgradePrefix = "UPGRADE:";
constexpr const char* HintPrefix = "hint: ";
// How a run marks its error lines for its gang (the terminal's red).
constexpr const char* RedMark = "\033[31m";
constexpr const char* PlainMark = "\033[0m";

bool StartsWith(const std::string& s, const char* prefix) {
    return s.rfind(prefix, 0) == 0;
}

// Takes the red mark off a line; true when it had one.
bool TakeRedMark(std::string& line) {
    const size_t red = std::strlen(RedMark), plain = std::strlen(PlainMark);
    if (!StartsWith(line, RedMark)) return false;
    line.erase(0, red);
    const size_t end = line.rfind(PlainMark);
    if (end != std::string::npos && end + plain == line.size()) line.erase(end);
    return true;
}

}  // namespace

std::string PortTraceFile(const std::string& file, int port) {
    const std::string name = "COM" + std::to_string(port);
    const size_t slash = file.rfind('/');
    const size_t base = slash == std::string::npos ? 0 : slash + 1;
    const size_t dot = file.rfind('.');
    // A dot that begins the name (".trace") starts no extension.
    if (dot == std::string::npos || dot <= base) return file + "." + name;
    return file.substr(0, dot) + "." + name + file.substr(dot);
}

std::vector<std::string> PortRunArgs(const std::vector<std::string>& args, int port) {
    std::vector<std::string> out = args;
    const std::string joined = std::string(TraceOption) + "=";
    for (size_t i = 0; i < out.size(); ++i) {
        if (out[i] == TraceOption && i + 1 < out.size()) {
            out[i + 1] = PortTraceFile(out[i + 1], port);
            ++i;
        } else if (out[i].rfind(joined, 0) == 0) {
            out[i] = joined + PortTraceFile(out[i].substr(joined.size()), port);
        }
    }
    return out;
}

std::vector<std::string> GangPortTargets(const std::string& iniPath, int count) {
    PortMapConfig config;
    config.IniLookup = [iniPath](const std::string& key) {
        return ReadSetting(iniPath, PortIniSection, key, "");
    };
    std::vector<std::string> targets;
    for (int n = 1; n <= count; ++n) targets.push_back(ResolvePortTarget(n, config).Value);
    return targets;
}

std::vector<std::string> PortRunCommand(const std::vector<std::string>& args, int port) {
    std::vector<std::string> all = PortRunArgs(args, port);
    all.insert(all.begin(), {RunProgramName, GangPortOption, std::to_string(port)});
    return all;
}

int64_t GangClockMs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return int64_t(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

RunLineKind TakeRunLine(PortRunView& view, std::string& line) {
    const bool red = TakeRedMark(line);
    const bool percent = !line.empty() && line.back() == '%' &&
                         line.find_first_not_of("0123456789") == line.size() - 1;
    if (percent) {
        view.Percent = std::atoi(line.c_str());
        return RunLineKind::Percent;
    }
    if (StartsWith(line, RunFilePrefix)) {
        ++view.Step;
        view.Percent = -1;
        view.File = line.substr(std::strlen(RunFilePrefix));
        return RunLineKind::File;
    }
    if (StartsWith(line, RunWaitingText)) {
        view.Waiting = true;
        return RunLineKind::Waiting;
    }
    if (line.empty() || StartsWith(line, UpgradePrefix) || StartsWith(line, HintPrefix))
        return RunLineKind::Other;
    view.Status = line;
    view.Error = red;
    view.Waiting = false;
    return RunLineKind::Status;
}

void PortRun::Reset() {
    View = PortRunView{};
    ExitStatus = -1;
    stops_ = 0;
    reaped_ = false;
    partial_.clear();
    StartMs = GangClockMs();
    EndMs = 0;
}

bool PortRun::FailStart(int error) {
    View.Status = CannotStartText + std::string(std::strerror(error));
    View.Error = true;
    ExitStatus = ExitRunFailed;
    EndMs = StartMs;
    pid_ = -1;
    reaped_ = true;
    return false;
}

bool PortRun::ReadOutput(const std::function<void(const std::string&, RunLineKind)>& onLine) {
    if (out_ < 0) return false;
    char buffer[4096];
    ssize_t n;
    while ((n = read(out_, buffer, sizeof buffer)) < 0 && errno == EINTR) {
    }
    auto take = [&](std::string line) {
        const RunLineKind kind = TakeRunLine(View, line);
        if (onLine) onLine(line, kind);
    };
    if (n <= 0) {
        if (!partial_.empty()) take(partial_);
        partial_.clear();
        close(out_);
        out_ = -1;
        EndMs = GangClockMs();  // its run has ended: it closed its output
        Reap();
        return false;
    }
    for (ssize_t k = 0; k < n; ++k) {
        if (buffer[k] == '\n' || buffer[k] == '\r') {
            if (!partial_.empty()) take(partial_);
            partial_.clear();
        } else {
            partial_ += buffer[k];
        }
    }
    return true;
}

bool PortRun::Continue() {
    if (!View.Waiting || in_ < 0 || write(in_, "\n", 1) != 1) return false;
    View.Waiting = false;
    return true;
}

void PortRun::CloseInput() {
    if (in_ >= 0) close(in_);
    in_ = -1;
}

int GangStatus(const std::vector<PortRun>& runs) {
    for (const PortRun& r : runs)
        if (r.ExitStatus != 0) return r.ExitStatus;
    return 0;
}

}  // namespace ps

// SPDX-License-Identifier: MIT
#include "app/Hints.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>

#include "app/Models.h"
#include "run/Station.h"
#include "app/StationPorts.h"
#include "images/DataFolder.h"
#include "images/FileLookup.h"
#include "projects/Settings.h"
#include "projects/StepFile.h"
#include "targets/bootloader/infineon/InfineonFlow.h"

namespace ps {

namespace fs = std::filesystem;

namespace {

constexpr const char* Hint = "hint: ";

std::string Absolute(const std::string& folder, const std::string& path) {
    if (path.empty() || path[0] == '/') return path;
    return (fs::path(folder) / path).lexically_normal().string();
}

// Why a file cannot be read: "does not exist", "is a folder", ...
std::string WhyNotReadable(const std::string& path) {
    struct stat s {};
    if (::stat(path.c_str(), &s) != 0) return "does not exist";
    if (S_ISDIR(s.st_mode)) return "is a folder, not a file";
    if (!S_ISREG(s.st_mode)) return "is not a regular file";
    if (::access(path.c_str(), R_OK) != 0) return "is not readable for this user (permission)";
    return "";
}

// The number and text of the first line of step `step` in the step file for which `match`
// holds; 0 when there is none.
std::pair<int, std::string> FindStepLine(const std::string& stepFile, int step,
                                         const std::function<bool(const std::string&)>& match) {
    std::ifstream in(stepFile, std::ios::binary);
    std::string line;
    int number = 0, counter = 1;
    // Lines end at CR, as the step loader reads them; a LF after it is not part of the next.
    char c;
    auto take = [&]() -> bool {
        ++number;
        const std::string normal = NormaliseStepLine(line);
        if (normal == StepSeparator) ++counter;
        return counter == step && match(normal);
    };
    while (in.get(c)) {
        if (c == '\x1A') break;
        if (c == '\r') {
            if (take()) return {number, line};
            line.clear();
            if (in.peek() == '\n') in.get();
        } else {
            line += c;
        }
    }
    if (!line.empty() && take()) return {number, line};
    return {0, ""};
}

// The step the run ended in. The controller counts on past a step that ran, so only a
// step refused before it ran (a bad value) is still the current one.
int FailedStep(const Station& st) {
    return st.RunError == RunBadStepValue || st.Running ? st.CurrentStep : st.CurrentStep - 1;
}

std::string StepLineHint(const Station& st, const std::function<bool(const std::string&)>& match,
                         const std::string& stepFile) {
    const int step = FailedStep(st);
    const auto [number, text] = FindStepLine(stepFile, step, match);
    std::string h = Hint + std::string("step ") + std::to_string(step);
    if (number > 0) {
        h += ", line " + std::to_string(number) + " of " + stepFile + ": " + text;
    } else {
        h += " (the line comes from the extra parameters of PROGRAMMER.INI or the command line)";
    }
    return h;
}

void PortHints(const Station& st, const HintContext& ctx, std::vector<std::string>& out) {
    const int port = st.SelectedPort;
    const PortTarget target = ResolvePortTarget(port, ctx.Ports);
    const std::string com = "COM" + std::to_string(port);
    std::string from;
    switch (target.Source) {
        case PortSource::Default:
            from = "the default (" + std::string(DefaultPortRule) + ")";
            break;
        case PortSource::Ini:
            from = "[Ports] " + com + "= in " + ctx.IniPath;
            break;
        case PortSource::Environment:
            from = "the environment (" + std::string(PortEnvPrefix) + std::to_string(port) + ")";
            break;
    }
    out.push_back(Hint + com + " is " + target.Value + ", from " + from);
    if (target.Value.rfind(SimPortPrefix, 0) == 0) {
        out.push_back(Hint + std::string("no simulated board is called that; boardsim --help "
                                         "lists the boards"));
        return;
    }
    if (const std::string why = PortDeviceProblem(target.Value, ctx.Roots); !why.empty())
        out.push_back(Hint + why);
    const auto ports = ListSerialPorts(ctx.Roots);
    std::string list;
    for (const auto& p : ports) {
        if (p.IsConsole) continue;
        list += (list.empty() ? "" : ", ") + p.Path;
    }
    out.push_back(Hint +
                  (list.empty() ? std::string("no serial devices found on this machine")
                                : "serial devices here: " + list) +
                  "; map " + com + " with [Ports] " + com + "=" + PortMapExample + " in PROGRAMMER.INI or " +
                  PortEnvPrefix + std::to_string(port) + "=..., or to a simulated board with " +
                  com + "=sim:NAME");
}

}  // namespace

std::vector<std::string> RunHints(const Station& st, const HintContext& ctx) {
    std::vector<std::string> out;
    const std::string stepFile = Absolute(ctx.WorkingFolder, st.Project.StepFile);
    if (st.LastRunEnd == Station::RunEnd::StepFileNotOpened) {
        const std::string why = WhyNotReadable(stepFile);
        out.push_back(Hint + std::string("tried the step file ") + stepFile +
                      (why.empty() ? ": it could not be read" : ": it " + why));
        if (!ctx.ExamplesFolder.empty())
            out.push_back(Hint + std::string("ready projects, one per model: ") +
                          ctx.ExamplesFolder + " (run the station in one of its folders)");
        return out;
    }
    if (st.LastRunEnd == Station::RunEnd::PortNotOpened) {
        PortHints(st, ctx, out);
        return out;
    }
    if (st.LastRunEnd != Station::RunEnd::Completed && !st.Running) return out;
    const std::vector<std::string> stages =
        st.RunError == RunImageFile ? MissingInfineonStages(st) : std::vector<std::string>{};
    if (!stages.empty()) {
        std::string folders;
        for (const std::string& f : DataSearchFolders(st.ProgramFolder, {}, st.Project.StepFile))
            folders += (folders.empty() ? "" : " nor in ") + f;
        for (const std::string& name : stages)
            out.push_back(Hint + std::string("the stage program ") + name + " is not in " +
                          folders + "; it comes from the chip's maker (" + DataFolderEnv +
                          " names another folder)");
    } else if (st.RunError == RunImageFile && !st.ImageProblem.empty()) {
        out.push_back(Hint + std::string("step ") + std::to_string(FailedStep(st)) +
                      " was refused before the port was opened, nothing sent: " + st.ImageProblem);
    } else if (st.RunError == RunImageFile && !st.Step.ProgramFile.empty()) {
        const std::string image = Absolute(ctx.WorkingFolder, st.Step.ProgramFile);
        std::string ambiguity;
        const std::string found = FindFileIgnoringCase(image, ambiguity);
        std::string what;
        if (!ambiguity.empty()) {
            what = ambiguity;
        } else if (found.empty()) {
            what = "it does not exist (names are matched in any case)";
        } else {
            const std::string why = WhyNotReadable(found);
            what = (found != image ? "found as " + found + "; " : std::string()) +
                   (why.empty() ? "it is not an image this model reads" : "it " + why);
        }
        out.push_back(Hint + std::string("step ") + std::to_string(FailedStep(st)) +
                      " names the image " + st.Step.ProgramFile + "; tried " + image + ": " + what);
        // A step file saved with LF-only line ends is one long line to the loader, so the
        // lines after the model key end up in the image's name.
        if (st.Step.ProgramFile.find('\n') != std::string::npos)
            out.push_back(Hint + std::string("the step file's lines end in LF alone; the step "
                                             "loader ends a line at CR (or CR LF), so the "
                                             "lines after the model key became part of the "
                                             "image's name: save it with CR LF line ends"));
    } else if (st.RunError == RunModelUnavailable) {
        const std::string model = ModelName(st.Step.ModelIndex);
        out.push_back(Hint + std::string("this station cannot program the model \"") + model +
                      "\" yet");
        out.push_back(StepLineHint(
            st,
            [&](const std::string& line) {
                const size_t eq = line.find('=');
                return line.rfind("/P", 0) == 0 && eq != std::string::npos &&
                       line.substr(eq + 1, ProgramFileLimit) == st.Step.ProgramFile;
            },
            stepFile));
    } else if (st.RunError == RunBadStepValue && !st.Step.LoadError.empty()) {
        const std::string bad = st.Step.LoadError.substr(std::string(TextBadValue).size());
        out.push_back(StepLineHint(
            st, [&](const std::string& line) { return line == bad; }, stepFile));
    }
    return out;
}

HintContext StationHintContext(const Station& st) {
    HintContext ctx;
    std::error_code ec;
    ctx.WorkingFolder = fs::current_path(ec).string();
    if (ec) ctx.WorkingFolder = ".";
    ctx.Ports = StationPortConfig(st.IniPath);
    ctx.IniPath = st.IniPath;
    ctx.ExamplesFolder = FindExamplesFolder(st.ProgramFolder);
    return ctx;
}

std::vector<std::string> WriteHints(const std::string& path) {
    std::error_code ec;
    const std::string full = path.empty() ? path : fs::absolute(path, ec).lexically_normal().string();
    std::string why;
    struct stat s {};
    const std::string folder = fs::path(full).parent_path().string();
    if (path.empty()) {
        why = "no file name was given";
    } else if (::stat(full.c_str(), &s) == 0) {
        if (S_ISDIR(s.st_mode)) {
            why = "it is a folder, not a file";
        } else if (!S_ISREG(s.st_mode)) {
            why = "it is not a regular file";
        } else if (::access(folder.c_str(), W_OK) != 0) {
            why = "its folder " + folder + " is not writable for this user (permission)";
        } else if (::access(full.c_str(), W_OK) != 0) {
            why = "it is read-only for this user (permission)";
        }
    } else if (::stat(folder.c_str(), &s) != 0) {
        why = "its folder " + folder + " does not exist";
    } else if (!S_ISDIR(s.st_mode)) {
        why = folder + " is not a folder";
    } else if (::access(folder.c_str(), W_OK) != 0) {
        why = "its folder " + folder + " is not writable for this user (permission)";
    }
    if (why.empty()) why = "the disk refused the write (full, or read-only)";
    return {Hint + std::string("tried to write ") + full + ": " + why};
}

std::string FindExamplesFolder(const std::string& programFolder) {
    std::error_code ec;
    // Installed, beside the program (a build folder links the checkout's examples there),
    // or beside a copied station's program folder.
    for (const char* relative : {"../share/progstation/examples", "examples", "../examples"}) {
        const fs::path p = (fs::path(programFolder) / relative).lexically_normal();
        if (fs::is_directory(p, ec)) return p.string();
    }
    return "";
}

}  // namespace ps

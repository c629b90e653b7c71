// SPDX-License-Identifier: MIT
#include "targets/bootloader/sharc/SharcHostBootFlow.h"

#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <memory>

#include "run/StepEnding.h"
#include "run/Station.h"
#include "run/StepResult.h"
#include "images/FileLookup.h"
#include "images/ImageFile.h"
#include "link/Link.h"
#include "targets/bootloader/sharc/Bridge.h"
#include "targets/bootloader/sharc/SharcTexts.h"

namespace ps {

namespace {

constexpr const char* BootImageExtension = ".HEX";

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// The boot image is looked up as every image is (without regard to case); only a regular
// file is opened. Reports the file that cannot be opened.
File OpenBootImage(Station& st, const std::string& name, int64_t& size) {
    std::string lookupError;
    const std::string path = FindFileIgnoringCase(name, lookupError);
    struct stat info {};
    File file;
    if (!path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode))
        file.reset(std::fopen(path.c_str(), "rb"));
    if (!file) {
        std::string message = CannotOpenMessage(name);
        if (!lookupError.empty()) message += "\r" + lookupError;
        st.ImageFileError(message);
        return file;
    }
    size = static_cast<int64_t>(info.st_size);
    return file;
}

int Percent(int64_t part, int64_t whole) {
    // Default rounding mode: halves go to the even neighbour.
    return static_cast<int>(std::nearbyint(static_cast<double>(part) / whole * 100.0));
}

// Looks at what the board sent meanwhile: an XOFF holds the stream until XON (or STOP).
void ObeyFlowControl(Station& st) {
    while (st.RunError != RunStopped && st.Comm.InputCount() > 0) {
        if (ReadByte(st) != HostBootXoff) continue;
        while (ReadByte(st) != HostBootXon && st.RunError != RunStopped) {
        }
    }
}

}  // namespace

void SendHostBootFile(Station& st, const std::string& fileName) {
    const std::string name = ResolveImageName(fileName, BootImageExtension);
    int64_t size = 0;
    File file = OpenBootImage(st, name, size);
    if (!file) return;
    const int64_t whole = size > 0 ? size : 1;
    if (st.Step.AddrLen > 0) {
        st.ClearBlocks();
        PumpMessages(st);
    }
    SendByte(st, HostBootStart);
    PumpMessages(st);
    WaitMs(st, HostBootStartPauseMs);

    int64_t sent = 0;
    uint8_t pair[2];
    std::string word;
    for (;;) {
        const size_t got = std::fread(pair, 1, 2, file.get());
        if (got == 0) break;
        if (got == 1) pair[1] = HostBootPadByte;
        word.clear();
        AppendBridgeEscaped(word, pair[1]);
        AppendBridgeEscaped(word, pair[0]);
        SendText(st, word);
        sent += 2;
        st.Progress(Percent(std::min(sent, size), whole));
        PumpMessages(st);
        ObeyFlowControl(st);
        if (st.RunError == RunStopped) return;
    }
    // A file that could not be read to its end must not end in the end byte: the DSP
    // would start a boot image cut short.
    if (std::ferror(file.get())) {
        st.ImageFileError(CannotOpenMessage(name));
        return;
    }
    SendByte(st, HostBootEnd);
    file.reset();
    st.ByteLabel(0, std::to_string(size));
    st.RowByteCounts[0] = static_cast<int32_t>(std::min<int64_t>(size, INT32_MAX));
    PumpMessages(st);
}

void SharcHostBootFlow(Station& st) {
    if (UnlockSharcBridge(st)) {
        st.Status(SharcTextProgramming);
        if (!st.Step.ProgramFile.empty()) {
            st.RowByteCounts.fill(0);
            for (int i = 0; i <= st.Map.ShownRows(); ++i) st.ByteLabel(i, "");
            SendHostBootFile(st, st.Step.ProgramFile);
        }
    }
    // After a refusal, STOP or a bad file the failure's own text stands: no result, and
    // no pause before the run ends.
    if (st.RunError != RunOk) return;
    ShowStepResult(st, SharcTextProgramedOk, false);
    // This model has no automatic reset.
    if (!st.Step.AutoContinue) WaitForContinue(st);
}

}  // namespace ps

// SPDX-License-Identifier: MIT
// The runs of a gang as Windows processes. Each run is this program started with
// CreateProcessW, detached from the console (a Ctrl-C there reaches only the gang, which
// passes one STOP to each run, as a process group of its own does on POSIX). Its standard
// input and output are anonymous pipes, seen here as C runtime descriptors, so reading its
// lines and writing CONTINUE are the shared code's. STOP is a named event the run watches
// (see sigaction in the platform layer); a second STOP ends it with TerminateProcess. Its
// lifeline is an inherited handle to the gang's process: signalled once the gang is gone,
// however it ended.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "production/GangProcess.h"
#include "production/GangRun.h"
#include "run/ExitStatus.h"

namespace ps {

namespace {

// The exit code of a run ended with TerminateProcess (by its gang's second STOP, or by a
// test): its verdict is that of a SIGKILL on POSIX.
constexpr unsigned KilledExitCode = 128 + SIGKILL;
constexpr const char* KilledText = "killed";
// An exit code this large is a Windows exception (0xC0000005, an access violation), a crash.
constexpr unsigned FirstExceptionCode = 0xC0000000u;
constexpr const char* CrashedText = "crashed: exception 0x";

// The handle to the gang's process that every run inherits (made once).
HANDLE GangProcessHandle() {
    static HANDLE self = [] {
        HANDLE h = nullptr;
        if (!DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &h,
                             SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, TRUE, 0))
            return HANDLE(nullptr);
        return h;
    }();
    return self;
}

// A run's output and input pipes; the child's ends are inheritable, the gang's are not.
struct Pipes {
    HANDLE OutRead = nullptr, OutWrite = nullptr, InRead = nullptr, InWrite = nullptr;
    ~Pipes() {
        for (HANDLE h : {OutRead, OutWrite, InRead, InWrite})
            if (h != nullptr) CloseHandle(h);
    }
    bool Make() {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        return CreatePipe(&OutRead, &OutWrite, &inherit, 0) &&
               CreatePipe(&InRead, &InWrite, &inherit, 0) &&
               SetHandleInformation(OutRead, HANDLE_FLAG_INHERIT, 0) &&
               SetHandleInformation(InWrite, HANDLE_FLAG_INHERIT, 0);
    }
    // The gang's end as a descriptor; the handle then belongs to it.
    static int Descriptor(HANDLE& h, int flags) {
        const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), flags | _O_BINARY);
        if (fd >= 0) h = nullptr;
        return fd;
    }
};

int ErrnoOfStart(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
            return EACCES;
        case ERROR_BAD_EXE_FORMAT:
            return ENOEXEC;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
            return ENOMEM;
        default:
            return EIO;
    }
}

}  // namespace

std::string WindowsCommandLineArgument(const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) return arg;
    // The C runtime's reading of a command line: backslashes are literal unless they come
    // before a quote, where each pair is one backslash and an odd one escapes the quote.
    std::string out = "\"";
    size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') out.append(backslashes * 2 + 1, '\\');
        else out.append(backslashes, '\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, '\\');  // before the closing quote
    return out + "\"";
}

int GangExitStatus(bool waited, int exitCode) {
    if (!waited) return ExitRunFailed;
    if (static_cast<unsigned>(exitCode) >= FirstExceptionCode) return ExitRunFailed;
    return exitCode;
}

bool GangVanished() {
    static HANDLE gang = [] {
        const char* value = std::getenv(GangLifelineVariable);
        if (value == nullptr || *value == '\0') return HANDLE(nullptr);
        char* end = nullptr;
        const unsigned long long n = std::strtoull(value, &end, 10);
        HANDLE h = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(n));
        // Only a process handle names a process: a number inherited by mistake does not.
        if (*end != '\0' || n == 0 || GetProcessId(h) == 0) return HANDLE(nullptr);
        return h;
    }();
    static bool vanished = false;
    if (gang == nullptr || vanished) return vanished;
    vanished = WaitForSingleObject(gang, 0) == WAIT_OBJECT_0;
    return vanished;
}

void PrepareGangProcess() {
    // Windows raises no SIGPIPE (a write to a run that ended fails with an error) and keeps
    // every child's exit code until its handle is closed.
}

GangLifeline::GangLifeline() {
    // The gang's process handle serves: ends_ only says whether there is one.
    ends_[0] = GangProcessHandle() != nullptr ? 0 : -1;
}

GangLifeline::~GangLifeline() = default;

PortRun::~PortRun() {
    if (out_ >= 0) close(out_);
    if (in_ >= 0) close(in_);
    if (Running()) {
        TerminateProcess(process_, KilledExitCode);
        WaitForSingleObject(process_, INFINITE);
    }
    if (process_ != nullptr) CloseHandle(process_);
    if (stopEvent_ != nullptr) CloseHandle(stopEvent_);
}

bool PortRun::Start(const std::string& program, const std::vector<std::string>& args,
                    const GangLifeline& lifeline, const std::string& workDir) {
    Reset();
    if (process_ != nullptr) CloseHandle(process_);
    if (stopEvent_ != nullptr) CloseHandle(stopEvent_);
    process_ = stopEvent_ = nullptr;
    if (!lifeline.Ok()) return FailStart(EBADF);
    Pipes pipes;
    if (!pipes.Make()) return FailStart(ErrnoOfStart(GetLastError()));

    // This very program when asked for it by its POSIX name, else the program named.
    std::string path = program;
    char self[MAX_PATH * 3];
    const ssize_t n = readlink(program.c_str(), self, sizeof self - 1);
    if (n > 0) path.assign(self, static_cast<size_t>(n));
    for (char& c : path)
        if (c == '/') c = '\\';
    const bool named = path.find('\\') == std::string::npos;

    std::string line;
    for (const std::string& a : PortRunCommand(args, Port))
        line += (line.empty() ? "" : " ") + WindowsCommandLineArgument(a);
    std::wstring wideLine = ps_Wide(line.c_str());
    const std::wstring widePath = ps_Wide(path.c_str());
    const std::wstring wideDir = ps_Wide(workDir.c_str());

    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = pipes.InRead;
    startup.StartupInfo.hStdOutput = pipes.OutWrite;
    startup.StartupInfo.hStdError = pipes.OutWrite;
    // Only its own pipe ends and the lifeline pass to the run, whatever else this process
    // holds open for inheritance (its own standard handles, another run's ends): a pipe a
    // script reads must end when its writers do, not when some run lets go of a copy.
    HANDLE inherited[] = {pipes.InRead, pipes.OutWrite, GangProcessHandle()};
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    std::vector<char> attributes(size);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributes.data());
    const bool listed = size > 0 && InitializeProcThreadAttributeList(list, 1, 0, &size) &&
                        UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                                  inherited, sizeof inherited, nullptr, nullptr);
    if (listed) startup.lpAttributeList = list;
    else startup.StartupInfo.cb = sizeof startup.StartupInfo;
    PROCESS_INFORMATION info{};
    // The lifeline's handle number in the run's environment, for the run to find.
    const std::wstring variable = ps_Wide(GangLifelineVariable);
    const std::wstring value =
        std::to_wstring(reinterpret_cast<uintptr_t>(GangProcessHandle()));
    SetEnvironmentVariableW(variable.c_str(), value.c_str());
    // Suspended until its STOP event exists, so a STOP can never come before it.
    const BOOL started = CreateProcessW(
        named ? nullptr : widePath.c_str(), wideLine.data(), nullptr, nullptr, TRUE,
        CREATE_SUSPENDED | DETACHED_PROCESS | (listed ? EXTENDED_STARTUPINFO_PRESENT : 0), nullptr,
        workDir.empty() ? nullptr : wideDir.c_str(), &startup.StartupInfo, &info);
    const DWORD error = GetLastError();
    if (listed) DeleteProcThreadAttributeList(list);
    SetEnvironmentVariableW(variable.c_str(), nullptr);
    if (!started) return FailStart(ErrnoOfStart(error));
    stopEvent_ = CreateEventW(nullptr, FALSE, FALSE, ps_StopEventName(info.dwProcessId).c_str());
    if (stopEvent_ == nullptr) {
        const DWORD eventError = GetLastError();
        TerminateProcess(info.hProcess, KilledExitCode);
        CloseHandle(info.hThread);
        CloseHandle(info.hProcess);
        return FailStart(ErrnoOfStart(eventError));
    }
    ResumeThread(info.hThread);
    CloseHandle(info.hThread);
    process_ = info.hProcess;
    pid_ = static_cast<pid_t>(info.dwProcessId);
    // The child's ends are its own now: the run's output ends when it ends.
    CloseHandle(pipes.OutWrite);
    CloseHandle(pipes.InRead);
    pipes.OutWrite = pipes.InRead = nullptr;
    out_ = Pipes::Descriptor(pipes.OutRead, _O_RDONLY);
    in_ = Pipes::Descriptor(pipes.InWrite, _O_WRONLY);
    return true;
}

void PortRun::Stop() {
    if (!Running()) return;
    if (stops_++ == 0)
        SetEvent(stopEvent_);
    else
        TerminateProcess(process_, KilledExitCode);
}

void PortRun::Reap() {
    if (pid_ <= 0 || reaped_) return;
    const bool waited = WaitForSingleObject(process_, INFINITE) == WAIT_OBJECT_0;
    DWORD code = 0;
    const bool known = waited && GetExitCodeProcess(process_, &code);
    const DWORD error = GetLastError();
    reaped_ = true;
    CloseInput();
    if (EndMs == 0) EndMs = GangClockMs();
    ExitStatus = GangExitStatus(known, static_cast<int>(code));
    if (known && code == KilledExitCode) {
        View.Status = KilledText;
        View.Error = true;
    } else if (known && code >= FirstExceptionCode) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "%08lX", static_cast<unsigned long>(code));
        View.Status = std::string(CrashedText) + hex;
        View.Error = true;
    } else if (!known) {
        View.Status = GangLostText + std::to_string(error);
        View.Error = true;
    }
    View.Waiting = false;
}

}  // namespace ps

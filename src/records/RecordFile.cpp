// SPDX-License-Identifier: MIT
#include "records/RecordFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <nlohmann/json.hpp>

namespace ps {

std::string RecordJson(const RunRecord& r) {
    using nlohmann::json;
    json steps = json::array();
    for (const StepRecord& s : r.Steps) {
        json step = {
            {"step", s.Step},
            {"model", s.Model},
            {"image_file", s.ImageFile.empty() ? json(nullptr) : json(s.ImageFile)},
            {"image_sha256", s.ImageSha256.empty() ? json(nullptr) : json(s.ImageSha256)},
            {"image_checksum", s.ImageChecksum ? json(*s.ImageChecksum) : json(nullptr)},
            {"target_checksum", s.TargetChecksum ? json(*s.TargetChecksum) : json(nullptr)},
            {"device_name", s.DeviceName},
            {"result", s.Result},
            {"run_error", s.RunError},
            {"duration_ms", s.DurationMs},
            {"bytes_sent", s.BytesSent},
            {"bytes_received", s.BytesReceived},
            {"warnings", s.Warnings},
        };
        steps.push_back(std::move(step));
    }
    const json run = {
        {"start", r.StartTime},
        {"end", r.EndTime},
        {"host", r.Host},
        {"version", r.Version},
        {"port", "COM" + std::to_string(r.Port)},
        {"device", r.DevicePath},
        {"project", r.Project},
        {"step_file", r.StepFile},
        {"steps", steps},
        {"result", r.Result},
        {"run_error", r.RunError},
        {"exit_status", r.ExitStatus},
        {"duration_ms", r.DurationMs},
    };
    // Status texts are 8-bit: bytes that are not UTF-8 are replaced rather than refused.
    return run.dump(-1, ' ', false, json::error_handler_t::replace);
}

bool AppendRecord(const std::string& path, const RunRecord& record, std::string& error) {
    return AppendLine(path, RecordJson(record) + "\n", error);
}

bool AppendLine(const std::string& path, const std::string& line, std::string& error) {
    auto fail = [&](const std::string& why) {
        error = path + ": " + why;
        return false;
    };
    // Never blocking: a FIFO without a reader is refused at once (ENXIO) instead of holding
    // a finished run, as the trace does.
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC,
                          0644);
    if (fd < 0) return fail(errno == ENXIO ? "a FIFO without a reader" : std::strerror(errno));
    struct Closer {
        int Fd;
        ~Closer() { ::close(Fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0) return fail(std::strerror(errno));
    const bool regular = S_ISREG(st.st_mode);
    // A file made read-only was made so on purpose; root could write it, so the mode bits
    // are asked as well, as for the settings file.
    if (regular && (st.st_mode & 0222) == 0) return fail(std::strerror(EACCES));
    // Runs of a gang append to one file: the lock makes "the length before my line" true
    // until the line is in, so a cut never takes another run's line.
    if (regular) {
        while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
        }
        if (::fstat(fd, &st) != 0) return fail(std::strerror(errno));
    }
    ssize_t n;
    do {
        n = ::write(fd, line.data(), line.size());
    } while (n < 0 && errno == EINTR);
    const int writeErrno = errno;
    if (n == static_cast<ssize_t>(line.size())) return true;
    // A full disk takes part of the line: cut the file back, so it never ends in half a
    // record that the next one would be glued to.
    if (n > 0 && regular && ::ftruncate(fd, st.st_size) != 0)
        return fail("short write, and the file could not be cut back: " +
                    std::string(std::strerror(errno)));
    if (n > 0 && !regular) return fail("the reader took only part of the line");
    return fail(n < 0 ? std::strerror(writeErrno) : "short write");
}

}  // namespace ps

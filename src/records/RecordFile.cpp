// SPDX-License-Identifier: MIT
#include "records/RecordFile.h"

#include <fcntl.h>
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
    const std::string line = RecordJson(record) + "\n";
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    ssize_t n;
    do {
        n = ::write(fd, line.data(), line.size());
    } while (n < 0 && errno == EINTR);
    const int writeErrno = errno;
    ::close(fd);
    if (n != static_cast<ssize_t>(line.size())) {
        error = path + ": " + (n < 0 ? std::strerror(writeErrno) : "short write");
        return false;
    }
    return true;
}

}  // namespace ps

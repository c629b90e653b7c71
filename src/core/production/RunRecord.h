// SPDX-License-Identifier: MIT
#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace ps {

class Station;

// What a production line keeps of a run: one record per run and port, with one entry per
// step that ran. The core only collects it; writing it out (one JSON line) is the front
// ends' business.
struct StepRecord {
    int Step = 0;
    std::string Model;         // "ATMEL", "None" for a step without a model
    std::string ImageFile;     // as the step names it; "" none
    std::string ImageSha256;   // "" when the file could not be read
    std::optional<uint16_t> ImageChecksum, TargetChecksum;  // when the step verified
    std::string DeviceName;
    std::string Result;        // the status text the step ended with
    int32_t RunError = 0;
    int64_t DurationMs = 0;
    int64_t BytesSent = 0, BytesReceived = 0;
    std::vector<std::string> Warnings;  // about the step's image (wrong record checksums)
};

struct RunRecord {
    std::string StartTime, EndTime;  // ISO 8601 with the zone offset, wall clock
    std::string Host, Version;
    int Port = 0;
    std::string DevicePath;          // what the COM port led to ("/dev/ttyUSB0", "sim:avr")
    std::string Project, StepFile;
    std::vector<StepRecord> Steps;
    std::string Result;              // the last status text of the run
    int32_t RunError = 0;
    int ExitStatus = 0;
    int64_t DurationMs = 0;
};

// Follows a station's run through the controller's hooks and hands the finished record to
// Sink. Durations come from the station's clock (virtual in tests); the start and end
// times from the wall clock.
class RunRecorder {
public:
    std::function<void(const RunRecord&)> Sink;
    std::string Version;

    void RunStarted(const Station& st);
    void StepStarted(const Station& st);
    void StepEnded(const Station& st);
    void Warning(const std::string& text);  // kept with the step under way
    void RunEnded(const Station& st);

private:
    RunRecord run_;
    bool inStep_ = false;
    int64_t runStartMs_ = 0, stepStartMs_ = 0;
    int64_t sentAtStart_ = 0, receivedAtStart_ = 0;
};

// "2026-12-08T08:40:12+01:00" for the present moment, in the local zone.
std::string IsoTimeNow();

}  // namespace ps

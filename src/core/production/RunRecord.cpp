// SPDX-License-Identifier: MIT
#include "production/RunRecord.h"

#include <unistd.h>

#include <ctime>

#include "run/ExitStatus.h"
#include "run/ModelNames.h"
#include "run/Station.h"
#include "images/FileLookup.h"
#include "production/Sha256.h"

namespace ps {

std::string IsoTimeNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &local);
    // %z gives +0100; ISO 8601's extended form writes +01:00.
    std::string s = text;
    if (s.size() >= 5) s.insert(s.size() - 2, ":");
    return s;
}

namespace {
std::string HostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) return "";
    return name;
}
}  // namespace

void RunRecorder::RunStarted(const Station& st) {
    run_ = RunRecord{};
    run_.StartTime = IsoTimeNow();
    run_.Host = HostName();
    run_.Version = Version;
    run_.Port = st.SelectedPort;
    run_.Project = st.Project.Name;
    run_.StepFile = st.Project.StepFile;
    runStartMs_ = st.clock.NowMs();
    inStep_ = false;
}

void RunRecorder::StepStarted(const Station& st) {
    if (inStep_) StepEnded(st);
    StepRecord step;
    step.Step = st.CurrentStep;
    step.Model = st.Step.ModelIndex < 0 ? "None" : ModelName(st.Step.ModelIndex);
    step.ImageFile = st.Step.ProgramFile;
    if (!step.ImageFile.empty()) {
        std::string ambiguity;
        const std::string found = FindFileIgnoringCase(step.ImageFile, ambiguity);
        if (!found.empty()) step.ImageSha256 = Sha256OfFile(found);
    }
    run_.Steps.push_back(step);
    stepStartMs_ = st.clock.NowMs();
    sentAtStart_ = st.Comm.BytesSent();
    receivedAtStart_ = st.Comm.BytesReceived();
    inStep_ = true;
}

void RunRecorder::Warning(const std::string& text) {
    if (inStep_ && !run_.Steps.empty()) run_.Steps.back().Warnings.push_back(text);
}

void RunRecorder::StepEnded(const Station& st) {
    if (!inStep_ || run_.Steps.empty()) return;
    inStep_ = false;
    StepRecord& step = run_.Steps.back();
    if (run_.DevicePath.empty()) run_.DevicePath = st.Comm.DeviceName();
    if (st.Step.CheckSum) {
        step.ImageChecksum = st.ImageChecksum;
        step.TargetChecksum = st.TargetChecksum;
    }
    step.DeviceName = st.DeviceName;
    step.Result = st.StatusText();
    step.RunError = st.RunError;
    step.DurationMs = st.clock.NowMs() - stepStartMs_;
    step.BytesSent = st.Comm.BytesSent() - sentAtStart_;
    step.BytesReceived = st.Comm.BytesReceived() - receivedAtStart_;
}

void RunRecorder::RunEnded(const Station& st) {
    StepEnded(st);  // a step the run ended in (a port failure) still gets its entry
    run_.EndTime = IsoTimeNow();
    run_.Result = st.StatusText();
    run_.RunError = st.RunError;
    run_.ExitStatus = ExitStatusFor(st);
    run_.DurationMs = st.clock.NowMs() - runStartMs_;
    if (run_.DevicePath.empty()) run_.DevicePath = st.Comm.DeviceName();
    if (Sink) Sink(run_);
}

}  // namespace ps

// SPDX-License-Identifier: MIT
#pragma once
#include <cerrno>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "link/PortDevice.h"

namespace ps::test {

// A port device whose answers a test sets and whose calls it reads back afterwards. The
// state is shared, so the test still sees it after the port has taken the device.
struct FakeDeviceState {
    std::vector<std::string> Calls;  // "open", "apply", "dtr1", "rts0", "drain", "purge", "close"
    std::vector<LineSettings> Applied;
    std::vector<uint8_t> Written;
    std::deque<uint8_t> Input;
    bool IsOpen = false;
    int OpenResult = 0;
    int OpenErrno = 0;
    int ApplyResult = 0;
    int LineResult = 0;
    int PurgeResult = 0;
    int WaitResult = 0;     // used when Input is empty
    long WriteLimit = -1;   // bytes the device takes per write before its time limit
    int WriteError = 0;     // negative errno for every write
    long WaitingError = 0;  // negative errno for BytesWaiting
    long ReadError = 0;     // negative errno for Read
};

class FakePortDevice : public PortDevice {
public:
    explicit FakePortDevice(std::shared_ptr<FakeDeviceState> state, std::string name = "fake0")
        : s_(std::move(state)), name_(std::move(name)) {}

    std::string Name() const override { return name_; }
    int Open() override {
        s_->Calls.push_back("open");
        if (s_->OpenResult < 0) return s_->OpenResult;
        s_->IsOpen = true;
        return 0;
    }
    void Close() override {
        s_->Calls.push_back("close");
        s_->IsOpen = false;
    }
    bool IsOpen() const override { return s_->IsOpen; }
    int ApplyLineSettings(const LineSettings& settings) override {
        s_->Calls.push_back("apply");
        s_->Applied.push_back(settings);
        return s_->ApplyResult;
    }
    long Write(const uint8_t* data, size_t count) override {
        if (s_->WriteError < 0) return s_->WriteError;
        size_t n = count;
        if (s_->WriteLimit >= 0 && n > static_cast<size_t>(s_->WriteLimit)) n = s_->WriteLimit;
        s_->Written.insert(s_->Written.end(), data, data + n);
        return static_cast<long>(n);
    }
    long Read(uint8_t* data, size_t count) override {
        if (s_->ReadError < 0) return s_->ReadError;
        size_t n = 0;
        while (n < count && !s_->Input.empty()) {
            data[n++] = s_->Input.front();
            s_->Input.pop_front();
        }
        return static_cast<long>(n);
    }
    long BytesWaiting() override {
        if (s_->WaitingError < 0) return s_->WaitingError;
        return static_cast<long>(s_->Input.size());
    }
    int Purge() override {
        s_->Calls.push_back("purge");
        if (s_->PurgeResult == 0) s_->Input.clear();
        return s_->PurgeResult;
    }
    int SetDtr(bool asserted) override {
        s_->Calls.push_back(asserted ? "dtr1" : "dtr0");
        return s_->LineResult;
    }
    int SetRts(bool asserted) override {
        s_->Calls.push_back(asserted ? "rts1" : "rts0");
        return s_->LineResult;
    }
    int WaitReadable(int /*timeoutMs*/) override {
        if (!s_->Input.empty()) return 1;
        return s_->WaitResult;
    }
    int LastOpenErrno() const override { return s_->OpenErrno; }
    int DrainOutput(int /*timeoutMs*/) override {
        s_->Calls.push_back("drain");
        return 0;
    }

private:
    std::shared_ptr<FakeDeviceState> s_;
    std::string name_;
};

}  // namespace ps::test

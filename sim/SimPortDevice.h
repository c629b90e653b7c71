// SPDX-License-Identifier: MIT
#pragma once
#include <memory>
#include <string>

#include "link/PortDevice.h"
#include "sim/Wire.h"

namespace ps::sim {

// The station's end of a simulated line: a port device that talks to a board in-process
// through a Wire. Many devices may be made on one wire over time (the station opens a new
// device each time it opens the port); one at a time holds it open.
class SimPortDevice : public PortDevice {
public:
    explicit SimPortDevice(std::shared_ptr<Wire> wire);
    ~SimPortDevice() override;

    std::string Name() const override { return wire_->Name(); }
    int Open() override;
    void Close() override;
    bool IsOpen() const override { return open_; }
    int ApplyLineSettings(const LineSettings& settings) override;
    long Write(const uint8_t* data, size_t count) override;
    long Read(uint8_t* data, size_t count) override;
    long BytesWaiting() override;
    int Purge() override;
    int SetDtr(bool asserted) override;
    int SetRts(bool asserted) override;
    int WaitReadable(int timeoutMs) override;
    int DrainOutput(int timeoutMs) override;
    int LastOpenErrno() const override { return lastOpenErrno_; }

    Wire& wire() { return *wire_; }

private:
    std::shared_ptr<Wire> wire_;
    bool open_ = false;
    int lastOpenErrno_ = 0;
};

}  // namespace ps::sim

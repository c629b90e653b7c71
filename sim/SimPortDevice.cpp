// SPDX-License-Identifier: MIT
#include "sim/SimPortDevice.h"

#include <cerrno>

namespace ps::sim {

SimPortDevice::SimPortDevice(std::shared_ptr<Wire> wire) : wire_(std::move(wire)) {}

SimPortDevice::~SimPortDevice() {
    Close();
}

int SimPortDevice::Open() {
    if (open_) return -EBUSY;
    const int rc = wire_->Open();
    lastOpenErrno_ = rc < 0 ? -rc : 0;
    open_ = rc == 0;
    return rc;
}

void SimPortDevice::Close() {
    if (!open_) return;
    open_ = false;
    wire_->Close();
}

// Every call on a device that is not open fails as a closed file descriptor would; only
// the device that opened the wire may use it.
int SimPortDevice::ApplyLineSettings(const LineSettings& settings) {
    return open_ ? wire_->SetBaud(settings.Baud) : -EBADF;
}

long SimPortDevice::Write(const uint8_t* data, size_t count) {
    return open_ ? wire_->Write(data, count) : -EBADF;
}

long SimPortDevice::Read(uint8_t* data, size_t count) {
    return open_ ? wire_->Read(data, count) : -EBADF;
}

long SimPortDevice::BytesWaiting() {
    return open_ ? wire_->BytesWaiting() : -EBADF;
}

int SimPortDevice::Purge() {
    return open_ ? wire_->Purge() : -EBADF;
}

int SimPortDevice::SetDtr(bool asserted) {
    return open_ ? wire_->SetDtr(asserted) : -EBADF;
}

int SimPortDevice::SetRts(bool asserted) {
    return open_ ? wire_->SetRts(asserted) : -EBADF;
}

int SimPortDevice::WaitReadable(int timeoutMs) {
    return open_ ? wire_->WaitReadable(timeoutMs) : -EBADF;
}

int SimPortDevice::DrainOutput(int timeoutMs) {
    return open_ ? wire_->DrainOutput(timeoutMs) : -EBADF;
}

}  // namespace ps::sim

// Shared helpers of the simulated-device tests.
#pragma once

#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "drmsim.h"

namespace drmsim_test {

inline std::string device_path(const std::string &name) {
    return std::string(DRMSIM_DEVICES_DIR) + "/" + name;
}

// Owns one simulated device descriptor; every test starts from a reset
// session.
class Device {
public:
    explicit Device(const std::string &file) : fd_(drmsim::open_device_file(device_path(file))) {}
    static Device from_text(const std::string &json) {
        return Device(drmsim::open_device(json), 0);
    }
    Device(Device &&other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    ~Device() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Device(const Device &) = delete;
    Device &operator=(const Device &) = delete;
    int fd() const { return fd_; }

private:
    Device(int fd, int) : fd_(fd) {}
    int fd_;
};

class SimTest : public ::testing::Test {
protected:
    void SetUp() override { drmsim::reset(); }
    void TearDown() override { drmsim::reset(); }
};

} // namespace drmsim_test

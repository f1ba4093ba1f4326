// SPDX-License-Identifier: MIT
// Tests of the object layer run the real libdrm against the in-process
// simulated device. Every test starts from a reset simulation, and after it
// every device it opened must have been closed holding nothing.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "drmsim.h"
#include "kms_objects.h"

namespace kms_test {

struct FramebufferDestroyer {
    void operator()(kms_framebuffer *fb) const { kms_framebuffer_destroy(fb); }
};
using FramebufferPtr = std::unique_ptr<kms_framebuffer, FramebufferDestroyer>;

struct AtomicDestroyer {
    void operator()(kms_atomic *atomic) const { kms_atomic_destroy(atomic); }
};
using AtomicPtr = std::unique_ptr<kms_atomic, AtomicDestroyer>;

inline std::string device_file(const std::string &name) {
    return std::string(KMS_TEST_DEVICES_DIR) + "/" + name;
}

class KmsSimTest : public ::testing::Test {
protected:
    void SetUp() override { drmsim::reset(); }

    void TearDown() override {
        for (kms_device *device : devices_)
            kms_device_close(device);
        devices_.clear();
        for (const int fd : fds_)
            expect_released(fd);
        fds_.clear();
        drmsim::reset();
    }

    // The descriptor was closed holding no framebuffer, buffer, mapping or
    // property blob.
    static void expect_released(int fd) {
        const drmsim::LeakReport report = drmsim::leaks(fd);
        EXPECT_TRUE(report.closed) << "descriptor " << fd << " left open";
        EXPECT_TRUE(report.framebuffers.empty()) << "framebuffers left on " << fd;
        EXPECT_TRUE(report.dumb_buffers.empty()) << "dumb buffers left on " << fd;
        EXPECT_EQ(report.mappings, 0u) << "mappings left on " << fd;
        EXPECT_TRUE(report.blobs.empty()) << "property blobs left on " << fd;
    }

    // A simulated device descriptor; the device opened on it closes it.
    int open_fd(const std::string &description_json) {
        const int fd = drmsim::open_device(description_json);
        EXPECT_GE(fd, 0) << "simulated device refused the description:\n" << description_json;
        if (fd >= 0)
            fds_.push_back(fd);
        return fd;
    }

    int open_fd_file(const std::string &name) {
        const int fd = drmsim::open_device_file(device_file(name));
        EXPECT_GE(fd, 0) << "cannot open simulated device " << device_file(name);
        if (fd >= 0)
            fds_.push_back(fd);
        return fd;
    }

    // Enumerates an already opened descriptor (faults may be armed first).
    kms_device *enumerate(int fd) {
        kms_device *device = kms_device_open(fd);
        EXPECT_NE(device, nullptr);
        if (device)
            devices_.push_back(device);
        return device;
    }

    kms_device *open_device(const std::string &description_json) {
        const int fd = open_fd(description_json);
        return fd < 0 ? nullptr : enumerate(fd);
    }

    kms_device *open_device_file(const std::string &name) {
        const int fd = open_fd_file(name);
        return fd < 0 ? nullptr : enumerate(fd);
    }

    // Closes a device before the test ends and checks what it left behind.
    void close_device(kms_device *device) {
        const int fd = device->fd;
        std::erase(devices_, device);
        kms_device_close(device);
        std::erase(fds_, fd);
        expect_released(fd);
    }

private:
    std::vector<int> fds_;
    std::vector<kms_device *> devices_;
};

} // namespace kms_test

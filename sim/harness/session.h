// SPDX-License-Identifier: MIT
// Process-wide state of the simulation: which descriptors are simulated
// devices, the mappings of their buffers and the call counters; each
// request goes through the request table to its handler, past the injected
// faults, the journal and the snapshots. The DRMSIM_* environment variables
// are read once, on first use.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "debugfs.h"
#include "description.h"
#include "device.h"
#include "drmsim.h"
#include "faults.h"
#include "journal.h"
#include "snapshots.h"

namespace drmsim {

// Cheap checks that let the interposers pass foreign calls straight on.
inline std::atomic<int> g_open_devices{0};
inline std::atomic<int> g_tracked_mappings{0};
inline std::atomic<int> g_debugfs_files{0};
inline std::atomic<bool> g_debugfs_served{false};

class Session {
public:
    static Session &get();

    // Opening. try_open answers an open() of `path` when it names a device
    // description: a descriptor, or -1 with errno set. nullopt: not ours.
    std::optional<int> try_open(int dirfd, const char *path, int flags);
    int open_description(const std::string &text, const std::string &label, int flags);

    bool is_device(int fd);
    // Each returns what the system call would: -1 with errno on failure.
    int ioctl(int fd, unsigned long request, void *arg);
    void *mmap(void *addr, size_t length, int prot, int flags, int fd, off_t offset);
    void unmapped(void *addr, size_t length);
    int close(int fd); // the device part; the caller closes the descriptor
    // The debugfs folder's files (debugfs.h). nullopt: not one of ours.
    std::optional<ssize_t> debugfs_read(int fd, void *buf, size_t count);
    std::optional<ssize_t> debugfs_write(int fd, const void *buf, size_t count);
    std::optional<int> debugfs_poll(pollfd *fds, nfds_t nfds, int timeout_ms);

    // Control and inspection, for the test API.
    void fail(std::string_view request, unsigned nth, int err);
    void delay(std::string_view request, unsigned milliseconds);
    void reset();
    unsigned request_count(std::string_view request);
    std::vector<JournalEntry> journal();
    LeakReport leaks(int fd);
    int last_opened();
    // Runs `fn` on the open device of `fd` under the lock; throws
    // std::invalid_argument when `fd` is not an open simulated device.
    template <typename Fn>
    auto with_device(int fd, Fn fn) {
        std::lock_guard lock(mu_);
        return fn(device_of(fd));
    }
    void set_journal_file(const std::string &path);
    void set_report_file(const std::string &path);
    void set_snapshot_dir(const std::string &dir);
    void set_verbose(bool on);
    void set_debugfs_dir(const std::string &dir);
    void set_pixel_faults(const std::string &faults); // throws std::invalid_argument

    // Writes the reports of devices still open (at process exit).
    void report_open_devices();

private:
    Session();
    struct OpenDevice {
        std::unique_ptr<Device> device;
        std::string label;
        double opened_at = 0; // monotonic seconds
        uint64_t serial = 0;
    };
    struct Mapping {
        uintptr_t start;
        size_t length;
        uint64_t device_serial;
        std::shared_ptr<BufferObject> buffer;
    };
    Device &device_of(int fd);
    const OpenDevice *device_by_serial(uint64_t serial) const;
    double debugfs_now(uint64_t serial) const;
    double timestamp(const OpenDevice &d) const;
    LeakReport report_for(const OpenDevice &d, bool closed) const;
    void read_environment();

    std::recursive_mutex mu_;
    std::map<int, OpenDevice> devices_;
    std::map<int, LeakReport> closed_reports_;
    std::vector<Mapping> mappings_;
    std::map<std::string, unsigned, std::less<>> counts_;
    Faults faults_;
    Journal journal_;
    Snapshots snapshots_;
    PixelFaults pixel_faults_;
    Debugfs debugfs_;
    std::string report_path_;
    bool verbose_ = false;
    int last_opened_ = -1;
    uint64_t next_serial_ = 1;
    bool exit_hook_installed_ = false;
};

} // namespace drmsim

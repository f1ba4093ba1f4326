// SPDX-License-Identifier: MIT
// The preload path: drmsim_probe, a sanitized libdrm client that knows
// nothing of the simulation, runs under drmsim-run and libdrmsim.so.
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "sim_test_support.h"

extern char **environ;

namespace {

namespace fs = std::filesystem;

struct Outcome {
    int status = -1; // exit status, or -1 if it did not exit normally
    std::string out, err;
};

std::string read_text(const fs::path &p) {
    std::ifstream in(p);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class PreloadTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(fs::exists(DRMSIM_RUN)) << "build the tree: " << DRMSIM_RUN << " is missing";
        ASSERT_TRUE(fs::exists(DRMSIM_PROBE));
        char pattern[] = "/tmp/drmsim-preload-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }

    // Runs drmsim-run OPTIONS -- drmsim_probe DEVICE ACTION with standard
    // input a pipe that stays open (never readable) until the probe exits.
    Outcome run(std::vector<std::string> options, const std::string &device,
                const std::string &action) {
        std::vector<std::string> args{DRMSIM_RUN};
        args.insert(args.end(), options.begin(), options.end());
        args.insert(args.end(), {"--", DRMSIM_PROBE, device, action});
        std::vector<char *> argv;
        for (auto &a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);

        int in[2];
        if (pipe(in) != 0)
            return {};
        const std::string out_path = dir_ / "stdout", err_path = dir_ / "stderr";
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_addclose(&actions, in[1]);
        posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        pid_t pid = -1;
        int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(in[0]);
        Outcome r;
        if (spawned == 0) {
            // Every run here ends within a second; one that does not has hung
            // and must fail rather than stall the suite.
            int status = 0;
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
            while (waitpid(pid, &status, WNOHANG) == 0) {
                if (std::chrono::steady_clock::now() > deadline) {
                    kill(pid, SIGKILL);
                    waitpid(pid, &status, 0);
                    ADD_FAILURE() << "drmsim_probe " << action << " did not end within 60 s";
                    break;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        close(in[1]);
        r.out = read_text(out_path);
        r.err = read_text(err_path);
        return r;
    }

    std::vector<nlohmann::json> journal(const fs::path &path) {
        std::vector<nlohmann::json> lines;
        std::ifstream in(path);
        for (std::string line; std::getline(in, line);)
            lines.push_back(nlohmann::json::parse(line));
        return lines;
    }

    fs::path dir_;
};

TEST_F(PreloadTest, SanitizedProgramShowsAPictureAndCleansUp) {
    const fs::path j = dir_ / "journal.jsonl", report = dir_ / "report.json",
                   snaps = dir_ / "snaps";
    Outcome r = run({"--journal", j, "--report", report, "--snapshots", snaps},
                    drmsim_test::device_path("small-3crtc.json"), "show");
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("shown on crtc"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("done"), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "") << "nothing printed unless asked";

    auto lines = journal(j);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0]["request"], "SETCRTC");
    EXPECT_EQ(lines[0]["crtc_index"], 0);
    EXPECT_EQ(lines[0]["result"], 0);
    EXPECT_EQ(nlohmann::json::parse(read_text(report)),
              (nlohmann::json{{"closed", true},
                              {"framebuffers", nlohmann::json::array()},
                              {"dumb_buffers", nlohmann::json::array()},
                              {"mappings", 0},
                              {"blobs", nlohmann::json::array()}}));
    EXPECT_GT(fs::file_size(snaps / "crtc-0.png"), 0u);
}

TEST_F(PreloadTest, DeviceLeftOpenAtExitIsReported) {
    const fs::path report = dir_ / "report.json";
    Outcome r = run({"--report", report}, drmsim_test::device_path("small-3crtc.json"), "leak");
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    auto j = nlohmann::json::parse(read_text(report));
    EXPECT_EQ(j["closed"], false);
    EXPECT_EQ(j["framebuffers"].size(), 1u);
    EXPECT_EQ(j["dumb_buffers"], nlohmann::json::array({1}));
    EXPECT_EQ(j["mappings"], 1);
    EXPECT_NE(r.err.find("drmsim: left behind: "), std::string::npos) << r.err;
}

TEST_F(PreloadTest, VirtualClockCyclesCrtcsUntilInput) {
    const fs::path j = dir_ / "journal.jsonl";
    Outcome r = run({"--virtual-clock", "--event", "input@12", "--journal", j},
                    drmsim_test::device_path("small-3crtc.json"), "cycle");
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "shown on crtc 36\ntimeout, crtc 1\ntimeout, crtc 2\ninput\ndone\n");
    auto lines = journal(j);
    ASSERT_EQ(lines.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(lines[i]["t"], 5.0 * double(i));
        EXPECT_EQ(lines[i]["crtc_index"], int(i));
    }
}

TEST_F(PreloadTest, SigintAtAVirtualTimeInterruptsPlainSelect) {
    Outcome r = run({"--virtual-clock", "--event", "sigint@7"},
                    drmsim_test::device_path("small-3crtc.json"), "cycle-select");
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "shown on crtc 36\ntimeout, crtc 1\ninterrupted\ndone\n");
}

TEST_F(PreloadTest, SigintInsideSetCrtcEndsTheNextPselect) {
    Outcome r = run({"--virtual-clock", "--event", "sigint@setcrtc:2", "--verbose"},
                    drmsim_test::device_path("small-3crtc.json"), "cycle");
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "shown on crtc 36\ntimeout, crtc 1\ninterrupted\ndone\n");
    EXPECT_NE(r.err.find("drmsim: open "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("drmsim: [t=5.000] SETCRTC crtc 1 (id 37) fb 43 -> connector HDMI-A-1 (id "
                         "41) 640x480: ok"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("nothing left behind"), std::string::npos) << r.err;
}

TEST_F(PreloadTest, InjectedFailureAndRefusalReachTheProgram) {
    const fs::path j = dir_ / "journal.jsonl";
    Outcome r = run({"--virtual-clock", "--fail", "setcrtc:3:EACCES", "--journal", j},
                    drmsim_test::device_path("small-3crtc.json"), "cycle");
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out,
              "shown on crtc 36\ntimeout, crtc 1\nsetcrtc failed: Permission denied\ndone\n");
    auto lines = journal(j);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[2]["result"], -EACCES);

    r = run({"--virtual-clock"}, drmsim_test::device_path("crtc1-cannot-drive.json"), "cycle");
    EXPECT_EQ(r.out, "shown on crtc 34\nsetcrtc failed: Invalid argument\ndone\n");

    r = run({"--fail", "getresources:1:ENOMEM"}, drmsim_test::device_path("small-3crtc.json"),
            "show");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "drmModeGetResources failed: Cannot allocate memory\n");
}

// A fault that does not parse must not let the program run without it.
TEST_F(PreloadTest, MalformedSettingsStopTheProgramBeforeItRuns) {
    const struct {
        std::vector<std::string> options;
        const char *message;
    } cases[] = {
        {{"--fail", "setcrtc:two:EINVAL"}, "drmsim: DRMSIM_FAIL (--fail): bad \"setcrtc:two:EINVAL\""},
        // Only a mode set can be ignored, and only SETCRTC carried out wrongly.
        {{"--fail", "getcrtc:1:ignore"},
         "request:N:ignore for setcrtc, setplane or atomic, or request:N:FAULT for setcrtc, "
         "FAULT one of other-mode, clock, x-offset, y-offset"},
        {{"--fail", "setplane:1:x-offset"}, "drmsim: DRMSIM_FAIL (--fail): bad \"setplane:1:x-offset\""},
        {{"--fail", "setcrtc:first:EIO"}, "drmsim: DRMSIM_FAIL (--fail): bad \"setcrtc:first:EIO\""},
        {{"--fail", "setcrtc:1:EBOGUS"}, "drmsim: DRMSIM_FAIL (--fail): bad \"setcrtc:1:EBOGUS\""},
        {{"--fail", "setcrtcs:1:EIO"}, "drmsim: DRMSIM_FAIL (--fail): bad \"setcrtcs:1:EIO\""},
        {{"--fail", "setcrtc:0:EINVAL"}, "with N from 1"},
        {{"--delay", "setcrtc"}, "drmsim: DRMSIM_DELAY (--delay): bad \"setcrtc\""},
        {{"--event", "sigkill@3"}, "drmsim: DRMSIM_EVENTS (--event): bad \"sigkill@3\""},
        {{"--event", "input@getcrtc:1"}, "REQ setcrtc or atomic"},
        {{"--event", "sigint@atomic:0"}, "bad call number"},
    };
    for (const auto &c : cases) {
        Outcome r = run(c.options, drmsim_test::device_path("small-3crtc.json"), "show");
        EXPECT_EQ(r.status, 2) << c.options.at(1);
        EXPECT_EQ(r.out, "") << c.options.at(1);
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
}

// DRMSIM_CLOCK is "virtual", "real" or empty for the real clock; anything
// else stops the program before it runs.
TEST_F(PreloadTest, ClockIsVirtualRealOrEmpty) {
    for (const auto &[value, status] : {std::pair{"", 0}, {"real", 0}, {"bogus", 2}}) {
        setenv("DRMSIM_CLOCK", value, 1);
        const Outcome r = run({}, drmsim_test::device_path("small-3crtc.json"), "show");
        unsetenv("DRMSIM_CLOCK");
        EXPECT_EQ(r.status, status) << "DRMSIM_CLOCK=" << value << ": " << r.err;
    }
}

TEST_F(PreloadTest, OtherPathsPassThrough) {
    Outcome r = run({}, (dir_ / "missing.json").string(), "show");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "open failed: No such file or directory\n");

    // Linux opens a FIFO read-write at once (fifo_open waits for a peer only
    // for read-only or write-only opens), and it answers no DRM ioctl. Only
    // regular files are read as descriptions, so the FIFO stays a FIFO and
    // the open does not wait for a writer that never comes.
    const fs::path fifo = dir_ / "pipe.json";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    r = run({}, fifo.string(), "show");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "drmModeGetResources failed: Inappropriate ioctl for device\n");
    EXPECT_EQ(r.err, "");
}

TEST_F(PreloadTest, MalformedDescriptionFailsTheOpenWithItsLine) {
    const fs::path path = dir_ / "typo.json";
    std::ofstream(path) << "{\n  \"crtcs\": 1\n  \"connectors\": [{}]\n}\n";
    Outcome r = run({}, path.string(), "show");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "open failed: Invalid argument\n");
    EXPECT_EQ(r.err.rfind("drmsim: " + path.string() + ": line 3: not valid JSON: ", 0), 0u)
        << r.err;
}

} // namespace

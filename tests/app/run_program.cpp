// SPDX-License-Identifier: MIT
#include "run_program.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

std::string temp_path(const char *what) {
    std::string pattern = std::string("/tmp/crtc-relay-test-") + what + "-XXXXXX";
    const int fd = mkstemp(pattern.data());
    if (fd < 0)
        throw std::runtime_error("mkstemp failed");
    close(fd);
    return pattern;
}

} // namespace

std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

ProgramResult run_program(const ProgramRun &run) {
    const std::string out_path = temp_path("out");
    const std::string err_path = temp_path("err");

    int stdin_pipe[2] = {-1, -1};
    if (run.stdin_kind == StdinKind::open_pipe && pipe(stdin_pipe) < 0)
        throw std::runtime_error("pipe failed");

    const pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        switch (run.stdin_kind) {
        case StdinKind::open_pipe:
            dup2(stdin_pipe[0], 0);
            close(stdin_pipe[0]);
            close(stdin_pipe[1]);
            break;
        case StdinKind::end_of_file: {
            const int null_fd = open("/dev/null", O_RDONLY);
            dup2(null_fd, 0);
            close(null_fd);
            break;
        }
        case StdinKind::closed:
            close(0);
            break;
        }
        const int out_fd = open(out_path.c_str(), O_WRONLY | O_TRUNC);
        const int err_fd = open(err_path.c_str(), O_WRONLY | O_TRUNC);
        dup2(out_fd, 1);
        dup2(err_fd, 2);
        close(out_fd);
        close(err_fd);
        for (const std::string &assignment : run.env)
            putenv(const_cast<char *>(assignment.c_str()));
        std::vector<char *> args;
        for (const std::string &arg : run.argv)
            args.push_back(const_cast<char *>(arg.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        std::fprintf(stderr, "exec %s failed\n", args[0]);
        _exit(127);
    }

    if (stdin_pipe[0] >= 0)
        close(stdin_pipe[0]);

    // Poll the child, carrying out the real-time actions when they fall due,
    // and kill it if it outlives the limit (a hung run must fail, not hang).
    const auto start = std::chrono::steady_clock::now();
    bool input_written = false, signal_sent = false, killed = false;
    int status = 0;
    for (;;) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid)
            break;
        const auto elapsed = std::chrono::steady_clock::now() - start;
        if (run.write_stdin_after && !input_written && elapsed >= *run.write_stdin_after) {
            input_written = true;
            if (write(stdin_pipe[1], "\n", 1) != 1)
                throw std::runtime_error("writing to the program's stdin failed");
        }
        if (run.signal_after && !signal_sent && elapsed >= *run.signal_after) {
            signal_sent = true;
            kill(pid, run.signal);
        }
        if (!killed && elapsed >= run.time_limit) {
            killed = true;
            kill(pid, SIGKILL);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (stdin_pipe[1] >= 0)
        close(stdin_pipe[1]);

    ProgramResult result;
    if (WIFEXITED(status))
        result.exit_status = WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        result.term_signal = WTERMSIG(status);
    result.out = read_file(out_path);
    result.err = read_file(err_path);
    std::remove(out_path.c_str());
    std::remove(err_path.c_str());
    return result;
}

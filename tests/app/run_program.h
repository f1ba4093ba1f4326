// SPDX-License-Identifier: MIT
// Runs a program as a user would: its own process, chosen standard input,
// captured standard output and error, and its exit status.
#pragma once

#include <chrono>
#include <csignal>
#include <functional>
#include <optional>
#include <string>
#include <vector>

enum class StdinKind {
    open_pipe,   // a pipe that stays open and silent until the run ends
    end_of_file, // /dev/null: readable at once, at end of file
    closed,      // descriptor 0 not open at all
};

struct ProgramRun {
    std::vector<std::string> argv;
    std::vector<std::string> env; // NAME=value added to the environment
    StdinKind stdin_kind = StdinKind::open_pipe;
    // Real-time actions while the program runs (for the few real-clock tests).
    std::optional<std::chrono::milliseconds> write_stdin_after;
    std::optional<std::chrono::milliseconds> signal_after;
    int signal = SIGINT;                          // what signal_after sends
    std::chrono::milliseconds time_limit{60'000}; // killed with SIGKILL after this
};

struct ProgramResult {
    int exit_status = -1; // -1 if it did not exit normally
    int term_signal = 0;
    std::string out;
    std::string err;
};

ProgramResult run_program(const ProgramRun &run);

std::string read_file(const std::string &path);

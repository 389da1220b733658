#pragma once
// One measured run of another program: its wall and CPU time, its peak memory,
// its output, and how it ended. A run past its time limit is killed, and a
// crash is told, not passed on: one bad run must not end a whole benchmark.
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

struct ChildRun {
    enum class End { Exited, Crashed, TimedOut, NotStarted };
    End end = End::NotStarted;
    int exitCode = -1;  // when Exited
    int signal = 0;     // when Crashed
    double wallSeconds = 0;
    double cpuSeconds = 0;  // user and system, with the program's own children
    long peakKiB = 0;
    std::string out;
    std::string err;

    // "exit 3", "signal 11", "timeout", "not started" for a table.
    std::string Describe() const;
};

// Runs `args` (the program is looked up on PATH) in `dir` with its standard
// output and error in files there, the environment plus `extraEnv`
// ("NAME=value"), killed with its process group after `timeout`. The program
// is started by measure_child, whose result file "measured.txt" it leaves in `dir`.
ChildRun RunChild(const std::vector<std::string>& args, const std::filesystem::path& dir,
                  const std::vector<std::string>& extraEnv, std::chrono::milliseconds timeout);

// The full path of `program` on PATH, or empty.
std::string FindProgram(const std::string& program);

std::string ReadWholeFile(const std::filesystem::path& file);

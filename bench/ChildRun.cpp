#include "bench/ChildRun.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string_view>

extern char** environ;

namespace fs = std::filesystem;

#ifndef NETZSPURER_MEASURE_CHILD_BIN
#define NETZSPURER_MEASURE_CHILD_BIN "measure_child"
#endif

namespace {
constexpr const char* kMeasureChild = NETZSPURER_MEASURE_CHILD_BIN;
}  // namespace

std::string ChildRun::Describe() const {
    switch (end) {
        case End::Exited: return "exit " + std::to_string(exitCode);
        case End::Crashed: return "signal " + std::to_string(signal);
        case End::TimedOut: return "timeout";
        case End::NotStarted: break;
    }
    return "not started";
}

std::string ReadWholeFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string FindProgram(const std::string& program) {
    if (program.find('/') != std::string::npos) return access(program.c_str(), X_OK) == 0 ? program : "";
    const char* path = std::getenv("PATH");
    std::stringstream folders(path != nullptr ? path : "/usr/bin:/bin");
    std::string folder;
    while (std::getline(folders, folder, ':')) {
        const fs::path candidate = fs::path(folder.empty() ? "." : folder) / program;
        if (access(candidate.c_str(), X_OK) == 0) return candidate.string();
    }
    return "";
}

namespace {

// Waits for the child to end or the time to run out; true when it ended.
bool WaitUntilEnded(pid_t pid, std::chrono::milliseconds timeout) {
    const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    if (pidfd < 0) return true;  // no pidfd: wait without a limit
    pollfd watch{pidfd, POLLIN, 0};
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    int ready = 0;
    do {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        ready = poll(&watch, 1, static_cast<int>(std::max<long long>(left.count(), 0)));
    } while (ready < 0 && errno == EINTR);
    close(pidfd);
    return ready > 0;
}

}  // namespace

ChildRun RunChild(const std::vector<std::string>& args, const fs::path& dir, const std::vector<std::string>& extraEnv,
                  std::chrono::milliseconds timeout) {
    ChildRun run;
    const std::string program = args.empty() ? "" : FindProgram(args[0]);
    if (program.empty()) return run;
    const std::string resultFile = (dir / "measured.txt").string();
    fs::remove(resultFile);
    // Everything the child needs is made here: between fork and exec only
    // async-signal-safe calls are allowed in a process with threads.
    std::vector<char*> argv = {const_cast<char*>(kMeasureChild), const_cast<char*>(resultFile.c_str()),
                               const_cast<char*>(program.c_str())};
    for (std::size_t i = 1; i < args.size(); ++i) argv.push_back(const_cast<char*>(args[i].c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string_view entry(*e);
        const auto replaced = [&](const std::string& extra) {
            const std::size_t name = extra.find('=');
            return entry.substr(0, entry.find('=')) == std::string_view(extra).substr(0, name);
        };
        if (std::none_of(extraEnv.begin(), extraEnv.end(), replaced)) envp.push_back(*e);
    }
    for (const std::string& e : extraEnv) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    const int out = open((dir / "out.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const int err = open((dir / "err.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out < 0 || err < 0) {
        if (out >= 0) close(out);
        if (err >= 0) close(err);
        return run;
    }

    std::fflush(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        if (chdir(dir.c_str()) != 0) _exit(127);
        dup2(out, STDOUT_FILENO);
        dup2(err, STDERR_FILENO);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(out);
    close(err);
    if (pid < 0) return run;
    setpgid(pid, pid);

    const bool ended = WaitUntilEnded(pid, timeout);
    // The group: the measuring process and the program under it.
    if (!ended) kill(-pid, SIGKILL);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    run.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.out = ReadWholeFile(dir / "out.txt");
    run.err = ReadWholeFile(dir / "err.txt");
    if (!ended) {
        run.end = ChildRun::End::TimedOut;
        return run;
    }
    std::istringstream result(ReadWholeFile(resultFile));
    std::string how;
    int code = 0;
    double user = 0;
    double system = 0;
    if (!(result >> how >> code >> user >> system >> run.peakKiB)) return run;
    run.cpuSeconds = user + system;
    if (how == "signal") {
        run.end = ChildRun::End::Crashed;
        run.signal = code;
    } else {
        run.end = code == 127 ? ChildRun::End::NotStarted : ChildRun::End::Exited;
        run.exitCode = code;
    }
    return run;
}

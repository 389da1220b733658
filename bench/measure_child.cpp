// Runs one program and writes how it ended and what it used into a file:
//     measure_child RESULT_FILE PROGRAM [ARG...]
// The benchmark starts every measured program through this small process:
// Linux carries the peak memory of the process that forks into the child's
// figure, and the benchmark itself grows large.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: measure_child RESULT_FILE PROGRAM [ARG...]\n");
        return 2;
    }
    const pid_t pid = fork();
    if (pid < 0) return 1;
    if (pid == 0) {
        execv(argv[2], argv + 2);
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    while (wait4(pid, &status, 0, &usage) < 0) {
        if (errno != EINTR) return 1;
    }
    std::FILE* result = std::fopen(argv[1], "w");
    if (result == nullptr) return 1;
    // "exit CODE" or "signal NUMBER", then user and system seconds and peak KiB.
    std::fprintf(result, "%s %d %ld.%06ld %ld.%06ld %ld\n", WIFSIGNALED(status) ? "signal" : "exit",
                 WIFSIGNALED(status) ? WTERMSIG(status) : WEXITSTATUS(status), static_cast<long>(usage.ru_utime.tv_sec),
                 static_cast<long>(usage.ru_utime.tv_usec), static_cast<long>(usage.ru_stime.tv_sec),
                 static_cast<long>(usage.ru_stime.tv_usec), usage.ru_maxrss);
    return std::fclose(result) == 0 ? 0 : 1;
}

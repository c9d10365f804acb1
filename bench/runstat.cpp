// runstat N COMMAND [ARG...]: runs COMMAND N times, one after another, and prints the median
// wall time of one run in seconds and the largest peak resident set of any run in KiB.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char* argv[]) {
    if (argc < 3) return std::fputs("usage: runstat N command [arg...]\n", stderr), 2;
    long const runs = std::strtol(argv[1], nullptr, 10);
    std::vector<double> times;
    long peak_kib = 0;
    for (long i = 0; i < runs; ++i) {
        auto const start = std::chrono::steady_clock::now();
        pid_t const pid = fork();
        if (pid == 0) {
            execv(argv[2], argv + 2);
            _exit(127);
        }
        int status = 0;
        rusage usage{};
        if (pid < 0 || wait4(pid, &status, 0, &usage) != pid) return std::perror("runstat"), 1;
        times.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            return std::fprintf(stderr, "runstat: %s failed\n", argv[2]), 1;
        }
        peak_kib = std::max(peak_kib, usage.ru_maxrss);
    }
    std::nth_element(times.begin(), times.begin() + runs / 2, times.end());
    std::printf("%.6f %ld\n", times[static_cast<std::size_t>(runs / 2)], peak_kib);
}

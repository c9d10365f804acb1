// Runs the tool as a child process with its output captured (POSIX hosts).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "files.hpp"

struct Outcome {
    int status = -1;  // exit status, or -1 when the child did not exit normally
    std::string out;
    std::string err;
};

struct RunOptions {
    std::uint64_t file_size_limit = 64U << 20;  // bytes; no ordinary test file comes near it
    bool file_size_signal = false;              // leave SIGXFSZ at its default action, as a shell does
    std::vector<int> closed{};                  // standard descriptors the tool starts without
    unsigned seconds = 60;                      // then the tool is killed
    std::string fault{};                        // QUOXEL_FAIL for the fault injector, when set
};

// Whether run_tool can inject a fault: only into the tool built beside the suite, on Linux.
bool can_inject_faults();

// Runs the tool with `args` (QUOXEL_TOOL, optionally under QUOXEL_EMULATOR). A tool that runs
// away fails the test instead of filling the disk or hanging it: the child has a file size limit
// (RLIMIT_FSIZE; SIGXFSZ ignored unless asked otherwise, so that a write past it fails with EFBIG
// whatever the tool does about the signal) and is killed after `seconds`.
Outcome run_tool(const std::vector<std::string>& args, const RunOptions& options = {});

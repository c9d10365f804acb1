// Runs the tool as a child process with its output captured (POSIX hosts).
#pragma once

#include <string>
#include <vector>

#include "files.hpp"

struct Outcome {
    int status = -1;  // exit status, or -1 when the child did not exit normally
    std::string out;
    std::string err;
};

struct RunOptions {
    unsigned long file_size_limit = 64UL << 20;  // bytes; no test file comes near it
    bool stderr_closed = false;                  // start the tool with descriptor 2 closed
};

// Runs the tool with `args` (QUOXEL_TOOL, optionally under QUOXEL_EMULATOR). A tool that runs
// away fails the test instead of filling the disk or hanging it: the child has a file size limit
// (RLIMIT_FSIZE, with SIGXFSZ ignored so that a write past it fails with EFBIG instead of killing
// the child) and is killed after a minute.
Outcome run_tool(const std::vector<std::string>& args, const RunOptions& options = {});

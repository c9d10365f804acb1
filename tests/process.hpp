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

// Runs the tool with `args` (QUOXEL_TOOL, optionally under QUOXEL_EMULATOR). A non-zero
// `file_size_limit` sets RLIMIT_FSIZE in the child, with SIGXFSZ ignored so that a write past
// the limit fails with EFBIG instead of killing the child.
Outcome run_tool(const std::vector<std::string>& args, unsigned long file_size_limit = 0);

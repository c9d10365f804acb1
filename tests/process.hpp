// Helpers for the end-to-end tests: a scratch folder, whole-file reads and writes, and running
// the tool as a child process with its output captured.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

struct Outcome {
    int status = -1;  // exit status, or -1 when the child did not exit normally
    std::string out;
    std::string err;
};

// A fresh folder under $TMPDIR (or /tmp), removed with everything in it on destruction.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    std::string path(const std::string& name) const { return dir_ + "/" + name; }

private:
    std::string dir_;
};

void write_file(const std::string& path, const Bytes& bytes);
Bytes read_file(const std::string& path);
bool exists(const std::string& path);

// Runs the tool with `args` (QUOXEL_TOOL, optionally under QUOXEL_EMULATOR). A non-zero
// `file_size_limit` sets RLIMIT_FSIZE in the child, with SIGXFSZ ignored so that a write past
// the limit fails with EFBIG instead of killing the child.
Outcome run_tool(const std::vector<std::string>& args, unsigned long file_size_limit = 0);

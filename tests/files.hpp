// Helpers shared by the tests: scratch folders, whole-file reads and writes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

// A folder in the system's temporary folder, removed with its contents on destruction: a fresh
// one, or with `stable_name` the same one throughout a run of the test program, for a test whose
// death-test child must find it (where death tests run as a new process that repeats the test up
// to the dying statement).
class ScratchDir {
public:
    ScratchDir();
    explicit ScratchDir(const std::string& stable_name);
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

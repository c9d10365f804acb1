#include "files.hpp"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace fs = std::filesystem;

ScratchDir::ScratchDir() {
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path candidate = fs::temp_directory_path() / ("quoxel-test-" + std::to_string(random()));
        if (fs::create_directory(candidate)) {
            dir_ = candidate.generic_string();
            return;
        }
    }
    throw std::runtime_error("cannot create a scratch folder");
}

namespace {

// An id of this run of the test program, handed down through the environment to the children
// that death tests start, so that a child finds its parent's folder and two runs never share one.
std::string run_id() {
    static const std::string id = [] {
        const char* inherited = std::getenv("QUOXEL_TEST_RUN");
        if (inherited != nullptr && *inherited != '\0') return std::string(inherited);
        std::string fresh = std::to_string(std::random_device()());
#ifdef _WIN32
        _putenv_s("QUOXEL_TEST_RUN", fresh.c_str());
#else
        setenv("QUOXEL_TEST_RUN", fresh.c_str(), 1);
#endif
        return fresh;
    }();
    return id;
}

}  // namespace

ScratchDir::ScratchDir(const std::string& stable_name) {
    const fs::path folder = fs::temp_directory_path() / ("quoxel-test-" + run_id() + "-" + stable_name);
    fs::create_directories(folder);
    dir_ = folder.generic_string();
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
}

void write_file(const std::string& path, const Bytes& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!f.flush()) throw std::runtime_error("cannot write " + path);
}

Bytes read_file(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    if (!f) throw std::runtime_error("cannot read " + path);
    return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

bool exists(const std::string& path) { return fs::exists(fs::symlink_status(path)); }

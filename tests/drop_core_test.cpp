// Tests of the drop program's portable core, natively: a converted copy against the tool itself,
// a failure at each step of a copy, and a drop stopped in the middle.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "copy.hpp"
#include "files.hpp"
#include "system.hpp"
#include "pool.hpp"
#include "process.hpp"
#include "source.hpp"

using drop::convert_block;
using drop::copy_converted;
using drop::Error;
using drop::Files;
using drop::kept_bytes;
using drop::Path;
using drop::Version;
using drop::system_files;
using drop::run_pool;
using Copy = drop::Outcome;

namespace {

Bytes random_bytes(std::size_t size, unsigned key) {
    std::mt19937 generator(key);
    Bytes bytes(size);
    for (std::uint8_t& b : bytes) b = static_cast<std::uint8_t>(generator());
    return bytes;
}

std::vector<std::string> names_in(const std::string& folder) {
    std::vector<std::string> names;
    DIR* const dir = opendir(folder.c_str());
    if (dir == nullptr) return names;
    while (const dirent* entry = readdir(dir)) {
        std::string const name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
    return names;
}

std::size_t open_descriptors() { return names_in("/proc/self/fd").size(); }

// The POSIX calls, with the `nth` call of one kind failing with `error`, and `stop` set after
// the `stop_after`th write.
struct FaultyFiles final : Files {
    Files& real = system_files();
    std::string failing;  // "open", "read", "create", "write", "close", "rename", "remove"
    int nth = 0;
    Error error = 0;
    int stop_after = 0;
    std::atomic<bool>* stop = nullptr;
    std::function<void()> after_first_write;  // what another program does meanwhile
    std::map<std::string, int> calls;

    bool fails(const std::string& call) { return ++calls[call] == nth && call == failing; }
    Error open(const Path& p, Handle& f) override { return fails("open") ? error : real.open(p, f); }
    Error create(const Path& p, Handle& f) override { return fails("create") ? error : real.create(p, f); }
    Error read(Handle f, std::span<std::uint8_t> into, std::size_t& got) override {
        return fails("read") ? error : real.read(f, into, got);
    }
    Error write(Handle f, std::span<const std::uint8_t> bytes) override {
        if (fails("write")) return error;
        if (stop != nullptr && calls["write"] == stop_after) stop->store(true);
        Error const written = real.write(f, bytes);
        if (after_first_write && calls["write"] == 1) after_first_write();
        return written;
    }
    Error close(Handle f) override {
        Error const closed = real.close(f);  // closed whatever is made to fail, as close does
        return fails("close") ? error : closed;
    }
    Error rename(const Path& from, const Path& to) override {
        return fails("rename") ? error : real.rename(from, to);
    }
    Error remove(const Path& p) override { return fails("remove") ? error : real.remove(p); }
    Error version(Handle f, Version& v) override { return real.version(f, v); }
    Error version(const Path& p, Version& v) override { return real.version(p, v); }
    bool exists(Error e) override { return real.exists(e); }
    bool inside_copies(Handle f) override { return real.inside_copies(f); }
};

TEST(DropCore, ABlockIsConvertedFromItsFifthByteOfTheFile) {
    struct Case {
        std::uint64_t offset;
        Bytes in, out;
    };
    for (const Case& c : {Case{0, {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC}, {0x12, 0x34, 0x56, 0x78, 0xA9, 0xCB}},
                          Case{2, {0x12, 0x34, 0x56, 0x78}, {0x12, 0x34, 0x65, 0x87}},
                          Case{4, {0xF0}, {0x0F}}, Case{0, {0xAB, 0xCD}, {0xAB, 0xCD}}}) {
        Bytes block = c.in;
        convert_block(block, c.offset);
        EXPECT_EQ(block, c.out) << "at offset " << c.offset;
    }
}

// The copy of a file of every size up to three of the copy's blocks and past the tool's, with
// random contents, is what the tool makes of the file; below four bytes both refuse it.
TEST(DropCore, ACopyHoldsWhatTheToolMakesOfTheFileAtEverySize) {
    std::size_t const tool_block = source_number("quoxel.cpp", R"(block_size = (\d+);)");
    std::size_t const buffer_size = 97;  // a block of the copy that divides no block of the tool
    std::vector<std::size_t> sizes;
    for (std::size_t size = 0; size <= 3 * buffer_size + 5; ++size) sizes.push_back(size);
    for (std::size_t blocks = 1; blocks <= 3; ++blocks) {
        for (std::size_t size = blocks * tool_block - 2; size <= blocks * tool_block + 2; ++size) sizes.push_back(size);
    }
    ScratchDir dir;
    Bytes buffer(buffer_size);
    std::atomic<bool> const stop{false};
    for (std::size_t const size : sizes) {
        Bytes const original = random_bytes(size, static_cast<unsigned>(size));
        write_file(dir.path("original"), original);
        write_file(dir.path("by tool"), original);
        int const status = run_tool({dir.path("by tool")}).status;
        Copy const outcome =
            copy_converted(system_files(), dir.path("original"), dir.path("tmp"), dir.path("copy"), buffer, stop);
        EXPECT_FALSE(exists(dir.path("tmp"))) << size;
        EXPECT_EQ(read_file(dir.path("original")), original) << size;
        if (size < kept_bytes) {
            EXPECT_EQ(status, 1) << size;
            EXPECT_EQ(outcome.step, Copy::Step::too_short) << size;
            EXPECT_FALSE(exists(dir.path("copy"))) << size;
            continue;
        }
        ASSERT_EQ(status, 0) << size;
        ASSERT_EQ(outcome.step, Copy::Step::done) << size;
        EXPECT_EQ(read_file(dir.path("copy")), read_file(dir.path("by tool"))) << size;
        unlink(dir.path("copy").c_str());
    }
}

// A failure at each step ends the copy at that step with the system's error, keeps no copy and
// no temporary file, and changes no original.
TEST(DropCore, AFailureAtEachStepKeepsNoCopyAndNoTemporaryFile) {
    using Step = Copy::Step;
    struct Case {
        const char* failing;
        int nth;
        Error error;
        Step step;
    };
    std::size_t const descriptors = open_descriptors();
    for (const Case& c : {Case{"open", 1, EACCES, Step::open}, Case{"read", 1, EIO, Step::read},
                          Case{"read", 3, EIO, Step::read}, Case{"create", 1, EROFS, Step::create},
                          Case{"write", 1, EIO, Step::write}, Case{"write", 2, ENOSPC, Step::write},
                          Case{"close", 2, EDQUOT, Step::close}, Case{"rename", 1, EXDEV, Step::rename},
                          Case{"read", 2, 0, Step::changed}}) {  // the file ends before its size
        ScratchDir dir;
        Bytes const original = random_bytes(1000, 7);
        write_file(dir.path("a.wav"), original);
        FaultyFiles files;
        files.failing = c.failing;
        files.nth = c.nth;
        files.error = c.error;
        Bytes buffer(256);
        std::atomic<bool> const stop{false};
        Copy const outcome =
            copy_converted(files, dir.path("a.wav"), dir.path("t.tmp"), dir.path("c.wav"), buffer, stop);
        EXPECT_EQ(outcome.step, c.step) << c.failing << " " << c.nth;
        EXPECT_EQ(outcome.error, c.error) << c.failing << " " << c.nth;
        EXPECT_FALSE(outcome.left) << c.failing;
        EXPECT_EQ(names_in(dir.path("")), std::vector<std::string>{"a.wav"}) << c.failing << " " << c.nth;
        EXPECT_EQ(read_file(dir.path("a.wav")), original) << c.failing;
        EXPECT_EQ(open_descriptors(), descriptors) << c.failing << " " << c.nth;
    }
}

// A copy that cannot be removed after a failure is said to stay; a name that is taken is never
// replaced; a copy stopped between two blocks is removed.
TEST(DropCore, ATakenNameIsKeptAndAStoppedCopyRemoved) {
    ScratchDir dir;
    Bytes const original = random_bytes(1000, 8), other = random_bytes(10, 9);
    write_file(dir.path("a.wav"), original);
    Bytes buffer(256);
    std::atomic<bool> stop{false};

    FaultyFiles files;
    files.failing = "remove";
    files.nth = 1;
    files.error = EBUSY;
    write_file(dir.path("c.wav"), other);
    Copy outcome = copy_converted(files, dir.path("a.wav"), dir.path("t.tmp"), dir.path("c.wav"), buffer, stop);
    EXPECT_EQ(outcome.step, Copy::Step::taken);
    EXPECT_EQ(read_file(dir.path("c.wav")), other);
    EXPECT_TRUE(outcome.left);
    EXPECT_EQ(outcome.left_error, EBUSY);
    EXPECT_TRUE(exists(dir.path("t.tmp")));
    unlink(dir.path("t.tmp").c_str());
    unlink(dir.path("c.wav").c_str());

    FaultyFiles stopping;
    stopping.stop = &stop;
    stopping.stop_after = 2;
    outcome = copy_converted(stopping, dir.path("a.wav"), dir.path("t.tmp"), dir.path("c.wav"), buffer, stop);
    EXPECT_EQ(outcome.step, Copy::Step::stopped);
    EXPECT_EQ(stopping.calls["write"], 2);
    EXPECT_EQ(names_in(dir.path("")), std::vector<std::string>{"a.wav"});
}

// A file that another program changes while it is read gives no copy, whatever the change: it
// grows, it shrinks, it is written in place with its size kept, or another file takes its name.
TEST(DropCore, AFileThatChangesWhileItIsReadGivesNoCopy) {
    ScratchDir dir;
    std::string const original = dir.path("a.wav");
    struct Case {
        const char* what;
        std::function<void()> change;
    };
    for (const Case& c : {
             Case{"grows", [&] { write_file(original, random_bytes(3000, 2)); }},
             Case{"shrinks", [&] { write_file(original, random_bytes(500, 3)); }},
             Case{"is written in place",
                  [&] {
                      Bytes bytes = read_file(original);
                      bytes[900] ^= 1;
                      timespec const later[2] = {{0, UTIME_OMIT}, {4000000000, 0}};
                      write_file(original, bytes);
                      utimensat(AT_FDCWD, original.c_str(), later, 0);
                  }},
             Case{"is replaced",
                  [&] {
                      write_file(dir.path("new"), random_bytes(1000, 4));
                      std::rename(dir.path("new").c_str(), original.c_str());
                  }},
         }) {
        write_file(original, random_bytes(1000, 1));
        FaultyFiles files;
        files.after_first_write = c.change;
        Bytes buffer(256);
        std::atomic<bool> const stop{false};
        Copy const outcome = copy_converted(files, original, dir.path("t.tmp"), dir.path("c.wav"), buffer, stop);
        EXPECT_EQ(outcome.step, Copy::Step::changed) << c.what;
        EXPECT_EQ(names_in(dir.path("")), std::vector<std::string>{"a.wav"}) << c.what;
    }
}

// Every job runs once and is reported once, also when the jobs end faster than threads start.
TEST(DropCore, EveryJobOfAPoolRunsAndIsReportedOnce) {
    std::atomic<bool> const stop{false};
    for (std::size_t const count : {0U, 1U, 3U, 100U}) {
        for (std::size_t const threads : {1U, 4U, 8U}) {
            for (int round = 0; round < 20; ++round) {
                std::vector<std::atomic<int>> runs(count);
                std::vector<int> reports(count, 0);
                std::size_t const ran = run_pool<std::size_t>(
                    count, threads, stop, [&](std::size_t i, std::span<std::uint8_t>) { return ++runs[i], i; },
                    [&](std::size_t i, std::size_t result) { reports[i] += result == i ? 1 : 100; });
                ASSERT_EQ(ran, count) << count << " jobs on " << threads << " threads";
                for (std::size_t i = 0; i < count; ++i) ASSERT_TRUE(runs[i] == 1 && reports[i] == 1) << i;
            }
        }
    }
}

// A drop of many files stopped in the middle, by a job itself, so that the stop comes at the same
// point whatever the machine's load: no file starts after the stop but those that had already
// passed the pool's check, the job at work when it came is discarded, every copy is whole or
// absent, no temporary file is left, every result reaches the calling thread once, and what did
// not run is told.
TEST(DropCore, ADropStoppedInTheMiddleLeavesWholeCopiesOrNone) {
    ScratchDir dir;
    std::size_t const count = 300, stopping = 50, threads = 4;
    std::vector<Bytes> expected(count);
    for (std::size_t i = 0; i < count; ++i) {
        Bytes bytes = random_bytes(3000 + i, static_cast<unsigned>(i));
        write_file(dir.path(std::to_string(i) + ".wav"), bytes);
        convert_block(bytes, 0);
        expected[i] = bytes;
    }
    mkdir(dir.path("converted").c_str(), 0777);
    std::size_t const descriptors = open_descriptors();
    std::atomic<bool> stop{false};
    std::thread::id const caller = std::this_thread::get_id();
    std::vector<int> reported(count, 0);
    std::vector<Copy::Step> steps(count, Copy::Step::open);
    std::atomic<std::size_t> started_after_stop{0};
    std::size_t const ran = run_pool<Copy>(
        count, threads, stop,
        [&](std::size_t i, std::span<std::uint8_t> buffer) {
            if (stop.load()) ++started_after_stop;
            if (i == stopping) stop = true;  // before its first block: its copy is discarded
            std::string const name = std::to_string(i) + ".wav";
            return copy_converted(system_files(), dir.path(name), dir.path("converted/" + name + ".tmp"),
                                  dir.path("converted/" + name), buffer.first(1024), stop);
        },
        [&](std::size_t i, const Copy& outcome) {
            EXPECT_EQ(std::this_thread::get_id(), caller);
            ++reported[i];
            steps[i] = outcome.step;
        });
    // The jobs are taken in order: those before the stopping one, it, and at most one more on
    // each other thread.
    EXPECT_GT(ran, stopping);
    EXPECT_LE(ran, stopping + threads);
    EXPECT_LE(started_after_stop.load(), threads - 1);
    EXPECT_EQ(steps[stopping], Copy::Step::stopped);
    std::size_t whole = 0;
    for (std::size_t i = 0; i < count; ++i) {
        std::string const copy = dir.path("converted/" + std::to_string(i) + ".wav");
        if (i <= stopping) EXPECT_EQ(reported[i], 1) << i;
        else EXPECT_LE(reported[i], 1) << i;
        EXPECT_EQ(exists(copy), reported[i] == 1 && steps[i] == Copy::Step::done) << i;
        if (!exists(copy)) continue;
        EXPECT_EQ(read_file(copy), expected[i]) << i;
        ++whole;
    }
    EXPECT_EQ(names_in(dir.path("converted")).size(), whole);  // and no temporary file
    EXPECT_EQ(open_descriptors(), descriptors);
}

}  // namespace

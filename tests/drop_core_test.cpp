// Tests of the drop program's portable core, natively: a converted copy against the tool itself,
// a failure at each step of a copy, and a drop stopped in the middle.
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
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
using drop::Error;
using drop::Files;
using drop::Folder;
using drop::Handle;
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

// A scratch folder held open as the drop holds one; let go of at the end.
struct HeldDir {
    ScratchDir dir;
    Folder folder;
    explicit HeldDir(bool flush_each = false) {
        folder = {open(dir.path("").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC), dir.path(""), flush_each, 0, false, {}};
    }
    ~HeldDir() { drop::close_folder(folder); }
    std::string path(const std::string& name) const { return dir.path(name); }
};

// The POSIX calls, with the `nth` call of one kind failing with `error`, `stop` set after the
// `stop_after`th write, and every call on the temporary copy and the copy's name written down in
// `calls_made`, in order.
struct FaultyFiles final : Files {
    Files& real = system_files();
    std::string failing;  // "open", "read", "create", "write", "flush", "close", "rename", "remove"
    int nth = 0;
    Error error = 0;
    int stop_after = 0;
    std::atomic<bool>* stop = nullptr;
    std::function<void()> after_first_write;  // what another program does meanwhile
    std::map<std::string, int> calls;
    std::vector<std::string> calls_made;
    Handle out = drop::no_handle;
    bool open_renames = false;  // renames a written copy through its open handle, as Windows does

    bool fails(const std::string& call) { return ++calls[call] == nth && call == failing; }
    Error open(const Folder& d, const Path& p, bool copy, Handle& f, drop::Opened& opened) override {
        return fails("open") ? error : real.open(d, p, copy, f, opened);
    }
    bool busy(Error e) override { return real.busy(e); }
    bool linked(Error e) override { return real.linked(e); }
    bool guarded(Handle f) override { return real.guarded(f); }
    Error set_time(Handle f, std::int64_t written) override {
        if (f == out) calls_made.push_back("set time");
        return real.set_time(f, written);
    }
    Error create(const Folder& d, const Path& p, std::uint32_t mode, Handle& f) override {
        if (fails("create")) return error;
        Error const made = real.create(d, p, mode, f);
        out = f;
        calls_made.push_back("create");
        return made;
    }
    Error read(Handle f, std::span<std::uint8_t> into, std::size_t& got) override {
        return fails("read") ? error : real.read(f, into, got);
    }
    Error write(Handle f, std::span<const std::uint8_t> bytes) override {
        if (fails("write")) return error;
        if (stop != nullptr && calls["write"] == stop_after) stop->store(true);
        Error const written = real.write(f, bytes);
        if (after_first_write && calls["write"] == 1) after_first_write();
        if (f == out) calls_made.push_back("write");
        return written;
    }
    Error flush(const Folder& d, Handle f) override {
        if (fails("flush")) return error;
        if (f == out) calls_made.push_back(d.flush_each ? "flush" : "flush (none here)");
        return real.flush(d, f);
    }
    Error flush_all(const Folder& d) override {
        calls_made.push_back("flush all");
        return fails("flush_all") ? error : real.flush_all(d);
    }
    Error close(Handle f) override {
        Error const closed = real.close(f);  // closed whatever is made to fail, as close does
        if (f == out) calls_made.push_back("close");
        return fails("close") ? error : closed;
    }
    Error rename(const Folder& from, const Path& a, Handle f, const Folder& to, const Path& b, bool replace) override {
        calls_made.push_back(replace ? "rename over" : "rename");
        return fails("rename") ? error : real.rename(from, a, f, to, b, replace);
    }
    Error remove(const Folder& d, const Path& p) override {
        calls_made.push_back("remove");
        return fails("remove") ? error : real.remove(d, p);
    }
    Error version(const Folder& d, const Path& p, Handle f, Version& v) override { return real.version(d, p, f, v); }
    bool renames_open() override { return open_renames; }
    bool exists(Error e) override { return real.exists(e); }
};

// A copy of `name` in `dir` as the drop makes one: written as "t.tmp", flushed, and given the
// name `copy` (over a file there where `replace`).
Copy copy_converted(Files& files, const HeldDir& dir, const Path& name, const Path& copy, std::span<std::uint8_t> buffer,
                    const std::atomic<bool>& stop, bool replace = false) {
    Path const temporary = "t.tmp";
    Copy outcome = drop::write_converted(files, {dir.folder, name}, {dir.folder, temporary}, buffer, stop);
    if (outcome.step != Copy::Step::done) return outcome;
    if (Error const error = files.flush_all(dir.folder)) {
        outcome.step = Copy::Step::flush;
        outcome.error = error;
    }
    drop::give_name(files, {dir.folder, temporary}, {dir.folder, copy}, replace, outcome);
    return outcome;
}

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
    HeldDir dir;
    Bytes buffer(buffer_size);
    std::atomic<bool> const stop{false};
    for (std::size_t const size : sizes) {
        Bytes const original = random_bytes(size, static_cast<unsigned>(size));
        write_file(dir.path("original"), original);
        write_file(dir.path("by tool"), original);
        int const status = run_tool({dir.path("by tool")}).status;
        Copy const outcome = copy_converted(system_files(), dir, "original", "copy", buffer, stop);
        EXPECT_FALSE(exists(dir.path("t.tmp"))) << size;
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
    for (const Case& c : {Case{"open", 1, EACCES, Step::open}, Case{"read", 1, EIO, Step::read},
                          Case{"read", 3, EIO, Step::read}, Case{"create", 1, EROFS, Step::create},
                          Case{"write", 1, EIO, Step::write}, Case{"write", 2, ENOSPC, Step::write},
                          Case{"flush", 1, EIO, Step::flush}, Case{"flush_all", 1, EIO, Step::flush},
                          Case{"close", 2, EDQUOT, Step::close}, Case{"rename", 1, EXDEV, Step::rename},
                          Case{"read", 2, 0, Step::changed}})  // the file ends before its size
    for (bool const open_renames : {false, true}) {
        // A copy renamed open is closed after its name: its bytes are on the disk by then.
        if (open_renames && std::string_view(c.failing) == "close") continue;
        HeldDir dir(true);
        std::size_t const descriptors = open_descriptors();
        Bytes const original = random_bytes(1000, 7);
        write_file(dir.path("a.wav"), original);
        FaultyFiles files;
        files.failing = c.failing;
        files.nth = c.nth;
        files.error = c.error;
        files.open_renames = open_renames;
        Bytes buffer(256);
        std::atomic<bool> const stop{false};
        Copy const outcome = copy_converted(files, dir, "a.wav", "c.wav", buffer, stop);
        EXPECT_EQ(outcome.written, drop::no_handle) << c.failing << " " << c.nth;  // nothing left open for a name
        EXPECT_EQ(outcome.step, c.step) << c.failing << " " << c.nth;
        EXPECT_EQ(outcome.error, c.error) << c.failing << " " << c.nth;
        EXPECT_FALSE(outcome.left) << c.failing;
        EXPECT_EQ(names_in(dir.path("")), std::vector<std::string>{"a.wav"}) << c.failing << " " << c.nth;
        EXPECT_EQ(read_file(dir.path("a.wav")), original) << c.failing;
        EXPECT_EQ(open_descriptors(), descriptors) << c.failing << " " << c.nth;
    }
}

// A copy's bytes are on the disk before it takes its name: flushed after its last write, on its
// own where its file system flushes file by file, and with all that was written where it flushes
// all at once; and it replaces a file only where it is asked to.
TEST(DropCore, ACopyIsOnTheDiskBeforeItTakesItsName) {
    struct Case {
        bool flush_each, replace;
        std::vector<std::string> calls;
    };
    for (const Case& c : {Case{true, false, {"create", "write", "write", "flush", "set time", "close", "flush all", "rename"}},
                          Case{false, false,
                               {"create", "write", "write", "flush (none here)", "set time", "close", "flush all", "rename"}},
                          Case{false, true,
                               {"create", "write", "write", "flush (none here)", "set time", "close", "flush all", "rename over"}}}) {
        HeldDir dir(c.flush_each);
        write_file(dir.path("a.wav"), random_bytes(500, 3));
        if (c.replace) write_file(dir.path("c.wav"), random_bytes(20, 4));  // a copy a power cut cut short
        FaultyFiles files;
        Bytes buffer(256);
        std::atomic<bool> const stop{false};
        Copy const outcome = copy_converted(files, dir, "a.wav", "c.wav", buffer, stop, c.replace);
        EXPECT_EQ(outcome.step, Copy::Step::done);
        EXPECT_EQ(files.calls_made, c.calls) << c.flush_each << c.replace;
        EXPECT_EQ(read_file(dir.path("c.wav")).size(), 500U);
    }
}

// A copy that cannot be removed after a failure is said to stay; a name that is taken is never
// replaced; a copy stopped between two blocks is removed.
TEST(DropCore, ATakenNameIsKeptAndAStoppedCopyRemoved) {
    HeldDir dir;
    Bytes const original = random_bytes(1000, 8), other = random_bytes(10, 9);
    write_file(dir.path("a.wav"), original);
    Bytes buffer(256);
    std::atomic<bool> stop{false};

    FaultyFiles files;
    files.failing = "remove";
    files.nth = 1;
    files.error = EBUSY;
    write_file(dir.path("c.wav"), other);
    Copy outcome = copy_converted(files, dir, "a.wav", "c.wav", buffer, stop);
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
    outcome = copy_converted(stopping, dir, "a.wav", "c.wav", buffer, stop);
    EXPECT_EQ(outcome.step, Copy::Step::stopped);
    EXPECT_EQ(stopping.calls["write"], 2);
    EXPECT_EQ(names_in(dir.path("")), std::vector<std::string>{"a.wav"});
}

// A file that another program changes while it is read gives no copy, whatever the change: it
// grows, it shrinks, it is written in place with its size kept, or another file takes its name.
TEST(DropCore, AFileThatChangesWhileItIsReadGivesNoCopy) {
    HeldDir dir;
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
        Copy const outcome = copy_converted(files, dir, "a.wav", "c.wav", buffer, stop);
        EXPECT_EQ(outcome.step, Copy::Step::changed) << c.what;
        EXPECT_EQ(names_in(dir.path("")), std::vector<std::string>{"a.wav"}) << c.what;
    }
}

// Where the file system keeps leases, a file that a program holds open to write is busy, and one
// that a program opens to write while it is read breaks the lease: no copy either way, and the
// lease is let go at once, so that the program can go on. A copy made carries its original's time.
TEST(DropCore, ALeaseTellsAFileThatIsBeingWritten) {
    HeldDir dir;
    drop::ask_file_system(dir.folder);
    if (!dir.folder.leases) GTEST_SKIP() << "the scratch folder's file system keeps no leases";
    std::string const original = dir.path("a.wav");
    write_file(original, random_bytes(3000, 5));
    Bytes buffer(256);
    std::atomic<bool> const stop{false};

    int const writer = open(original.c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(writer, 0);
    FaultyFiles held;
    EXPECT_EQ(copy_converted(held, dir, "a.wav", "c.wav", buffer, stop).step, Copy::Step::busy);
    close(writer);

    FaultyFiles opened;
    int refused = 0;
    opened.after_first_write = [&] {
        int const fd = open(original.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        refused = fd < 0 ? errno : 0;
        if (fd >= 0) close(fd);
    };
    EXPECT_EQ(copy_converted(opened, dir, "a.wav", "c.wav", buffer, stop).step, Copy::Step::changed);
    EXPECT_EQ(refused, EWOULDBLOCK);  // the lease held until the program came
    int const after = open(original.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    EXPECT_GE(after, 0) << "the lease was not let go";
    if (after >= 0) close(after);
    EXPECT_EQ(names_in(dir.path("")), std::vector<std::string>{"a.wav"});

    FaultyFiles quiet;
    EXPECT_EQ(copy_converted(quiet, dir, "a.wav", "c.wav", buffer, stop).step, Copy::Step::done);
    struct stat a, c;
    ASSERT_EQ(stat(original.c_str(), &a), 0);
    ASSERT_EQ(stat(dir.path("c.wav").c_str(), &c), 0);
    EXPECT_EQ(a.st_mtim.tv_sec, c.st_mtim.tv_sec);
    EXPECT_EQ(a.st_mtim.tv_nsec, c.st_mtim.tv_nsec);
}

// What a process may still open: its soft limit less the descriptors it has open, which decides
// how many threads a drop runs.
TEST(DropCore, TheDescriptorsLeftAreTheLimitLessThoseOpen) {
    rlimit before{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &before), 0);
    rlimit lower = before;
    lower.rlim_cur = std::min<rlim_t>(before.rlim_max, 100);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &lower), 0);
    std::size_t const open = open_descriptors() - 1;  // less the listing's own
    EXPECT_EQ(drop::descriptors_left(), lower.rlim_cur - open);
    setrlimit(RLIMIT_NOFILE, &before);
}

// Every job runs once and is reported once, one job a task or several, also when the jobs end
// faster than threads start.
TEST(DropCore, EveryJobOfAPoolRunsAndIsReportedOnce) {
    std::atomic<bool> const stop{false};
    for (std::size_t const count : {0U, 1U, 3U, 100U}) {
        for (std::size_t const threads : {1U, 4U, 8U}) {
            for (std::size_t const per_task : {1U, 3U}) {
                for (int round = 0; round < 20; ++round) {
                    std::vector<std::atomic<int>> runs(count);
                    std::vector<int> reports(count, 0);
                    std::size_t const ran = run_pool<std::size_t>(
                        (count + per_task - 1) / per_task, threads, stop,
                        [&](std::size_t task, std::span<std::uint8_t>, std::vector<std::pair<std::size_t, std::size_t>>& results,
                            auto) {
                            for (std::size_t i = task * per_task; i < count && i < (task + 1) * per_task; ++i) {
                                ++runs[i];
                                results.emplace_back(i, i);
                            }
                        },
                        [&](std::size_t i, std::size_t result) { reports[i] += result == i ? 1 : 100; });
                    ASSERT_EQ(ran, count) << count << " jobs on " << threads << " threads";
                    for (std::size_t i = 0; i < count; ++i) ASSERT_TRUE(runs[i] == 1 && reports[i] == 1) << i;
                }
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
    HeldDir dir;
    std::size_t const count = 300, stopping = 50, threads = 4;
    std::vector<Bytes> expected(count);
    for (std::size_t i = 0; i < count; ++i) {
        Bytes bytes = random_bytes(3000 + i, static_cast<unsigned>(i));
        write_file(dir.path(std::to_string(i) + ".wav"), bytes);
        convert_block(bytes, 0);
        expected[i] = bytes;
    }
    std::size_t const descriptors = open_descriptors();
    std::atomic<bool> stop{false};
    std::thread::id const caller = std::this_thread::get_id();
    std::vector<int> reported(count, 0);
    std::vector<Copy::Step> steps(count, Copy::Step::open);
    std::atomic<std::size_t> started_after_stop{0};
    std::size_t const ran = run_pool<Copy>(
        count, threads, stop,
        [&](std::size_t i, std::span<std::uint8_t> buffer, std::vector<std::pair<std::size_t, Copy>>& results, auto) {
            if (stop.load()) ++started_after_stop;
            if (i == stopping) stop = true;  // before its first block: its copy is discarded
            Path const name = std::to_string(i) + ".wav";
            Files& files = system_files();
            Path const temporary = name + ".tmp";
            Copy outcome = drop::write_converted(files, {dir.folder, name}, {dir.folder, temporary}, buffer.first(1024), stop);
            drop::give_name(files, {dir.folder, temporary}, {dir.folder, "copy of " + name}, false, outcome);
            results.emplace_back(i, outcome);
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
        std::string const copy = dir.path("copy of " + std::to_string(i) + ".wav");
        if (i <= stopping) EXPECT_EQ(reported[i], 1) << i;
        else EXPECT_LE(reported[i], 1) << i;
        EXPECT_EQ(exists(copy), reported[i] == 1 && steps[i] == Copy::Step::done) << i;
        if (!exists(copy)) continue;
        EXPECT_EQ(read_file(copy), expected[i]) << i;
        ++whole;
    }
    EXPECT_EQ(names_in(dir.path("")).size(), count + whole);  // and no temporary file
    EXPECT_EQ(open_descriptors(), descriptors);
}

}  // namespace

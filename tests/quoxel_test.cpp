// End-to-end tests of the quoxel tool: the file's bytes, the exact diagnostic, empty standard
// output and the exit status.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

#include "process.hpp"
#include "report_line.hpp"

namespace {

// The block the tool moves per read and write, and the leading bytes it keeps, as it defines them.
const std::size_t block = source_number("quoxel.cpp", "^constexpr std::size_t block_size = ([0-9]+);");
const std::size_t kept_bytes = source_number("quoxel.cpp", "^constexpr std::int64_t kept_bytes = ([0-9]+);");
const std::string usage = "usage: quoxel file.WAV\n";

// The `nth` report of `call` in `function` of the tool.
ReportSite site(const char* function, const char* call, int nth = 1) {
    return report_site("quoxel.cpp", function, call, nth);
}

// What the tool must make of `in`: the first `kept` bytes kept, every later byte with its halves
// exchanged (written as arithmetic so it is not a copy of the tool's own bit operations).
Bytes converted(const Bytes& in, std::size_t kept = kept_bytes) {
    Bytes out = in;
    for (std::size_t i = kept; i < out.size(); ++i) out[i] = static_cast<std::uint8_t>(out[i] % 16 * 16 + out[i] / 16);
    return out;
}

Bytes random_bytes(std::size_t n, unsigned salt) {
    std::mt19937 gen(salt);
    std::uniform_int_distribution<int> dist(0, 255);
    Bytes b(n);
    for (auto& x : b) x = static_cast<std::uint8_t>(dist(gen));
    return b;
}

// QUOXEL_WINDOWS says the tool under test is the Windows build (run under Wine).
const bool windows = [] {
    const char* flag = std::getenv("QUOXEL_WINDOWS");
    return flag != nullptr && *flag != '\0' && *flag != '0';
}();

std::string text(int error) { return std::strerror(error); }

// The report of a write failed under a file size limit: EFBIG's text here; under Wine the limit
// shows as whatever error its file layer maps it to.
testing::Matcher<const std::string&> write_limit_report() {
    return windows ? report_line_starting(site("reverse_nibbles", "fwrite"), "fwrite: ")
                   : report_line(site("reverse_nibbles", "fwrite"), "fwrite: " + text(EFBIG));
}

class Quoxel : public ::testing::Test {
protected:
    ScratchDir dir;
    std::string file = dir.path("sample.wav");
};

TEST_F(Quoxel, WrongArgumentCountPrintsUsageAndOpensNothing) {
    const Bytes content = random_bytes(100, 1);
    write_file(file, content);
    for (const auto& args : std::vector<std::vector<std::string>>{{}, {file, file}, {file, file, file}}) {
        const Outcome r = run_tool(args);
        EXPECT_EQ(r.status, 1) << args.size() << " arguments";
        EXPECT_EQ(r.err, usage);
        EXPECT_EQ(r.out, "");
    }
    EXPECT_EQ(read_file(file), content);
}

TEST_F(Quoxel, ConvertsEverySizeAroundTheBlockBoundaries) {
    const std::size_t sizes[] = {4, 5, 6, 4 + block - 1, 4 + block, 4 + block + 1, 4 + 2 * block, 5000,
                                 4 + 3 * block + 17, std::size_t{1} << 20};
    for (std::size_t size : sizes) {
        const Bytes content = random_bytes(size, static_cast<unsigned>(size));
        write_file(file, content);
        const Outcome r = run_tool({file});
        EXPECT_EQ(r.status, 0) << size;
        EXPECT_EQ(r.err, "") << size;
        EXPECT_EQ(r.out, "") << size;
        EXPECT_EQ(read_file(file), converted(content)) << size;
    }
}

TEST_F(Quoxel, ExchangesTheHalvesOfAllByteValuesAndRestoresOnASecondRun) {
    Bytes content = {0xAB, 0x12, 0xF0, 0x0F};  // the header is left alone, even when it would change
    for (int v = 0; v < 256; ++v) content.push_back(static_cast<std::uint8_t>(v));
    write_file(file, content);

    ASSERT_EQ(run_tool({file}).status, 0);
    const Bytes once = read_file(file);
    ASSERT_EQ(once.size(), content.size());
    EXPECT_EQ(Bytes(once.begin(), once.begin() + 4), Bytes({0xAB, 0x12, 0xF0, 0x0F}));
    EXPECT_EQ(once[4 + 0x12], 0x21);
    EXPECT_EQ(once[4 + 0xA5], 0x5A);
    EXPECT_EQ(once[4 + 0x77], 0x77);
    EXPECT_EQ(once, converted(content));

    ASSERT_EQ(run_tool({file}).status, 0);
    EXPECT_EQ(read_file(file), content);
}

TEST_F(Quoxel, FilesShorterThanFourBytesAreReportedAndLeftAlone) {
    for (std::size_t size = 0; size < 4; ++size) {
        const Bytes content = random_bytes(size, 7);
        write_file(file, content);
        const Outcome r = run_tool({file});
        EXPECT_EQ(r.status, 1) << size;
        EXPECT_THAT(r.err, report_line(site("reverse_nibbles", "fread"), "unexpected EOF"));
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(read_file(file), content);
    }
}

// Started without some of its standard descriptors, the tool must not take one of them for the
// file, where a report meant for standard error would land; and it must still convert.
TEST_F(Quoxel, ClosedStandardDescriptorsNeverLetAReportIntoTheFile) {
    struct Case {
        std::vector<int> closed;
        std::size_t size;
        int status;
    };
    for (const Case& c : {Case{{2}, 2, 1}, Case{{2}, 300, 0}, Case{{0, 2}, 300, 0}, Case{{0, 1, 2}, 300, 0}}) {
        const Bytes content = random_bytes(c.size, 12);
        write_file(file, content);
        EXPECT_EQ(run_tool({file}, {.closed = c.closed}).status, c.status) << c.closed.size() << " closed";
        EXPECT_EQ(read_file(file), c.status == 0 ? converted(content) : content) << c.closed.size() << " closed";
    }
}

// A loop device over a file of the test's own, attached with losetup, where the test runs as root
// on Linux; otherwise `path` is empty. Detached when it goes.
struct LoopDevice {
    std::string path;
    explicit LoopDevice(const std::string& backing) {
        if (windows || geteuid() != 0) return;
        std::FILE* p = popen(("losetup -f --show '" + backing + "' 2>/dev/null").c_str(), "r");
        if (p == nullptr) return;
        char line[256] = {};
        if (std::fgets(line, sizeof line, p) != nullptr) path = std::string(line, std::strcspn(line, "\n"));
        if (pclose(p) != 0) path.clear();
    }
    ~LoopDevice() { detach(); }
    void detach() {
        if (path.empty()) return;
        EXPECT_EQ(std::system(("losetup -d '" + path + "'").c_str()), 0) << path;
        path.clear();
    }
};

// The size is taken by seeking to the end, and the file must end there. A FIFO cannot be sought,
// and /dev/zero reports a size of 0 but gives data without end: both are refused before anything
// is written. A block device ends at its size and is converted whole.
TEST_F(Quoxel, AFileIsConvertedOnlyWhenItEndsWhereItsSizeSays) {
    const std::string fifo = dir.path("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    struct Case {
        std::string path;
        const char* call;  // nullptr: converted
        int nth;           // which report of the call in main
        int error;         // under Wine, its runtime's errors
    };
    // A seek to the end that fails, and a size that is not where the file ends (the second ftell).
    std::vector<Case> cases = {{fifo, "fseek", 1, windows ? EINVAL : ESPIPE}, {"/dev/zero", "ftell", 2, ESPIPE}};
    const Bytes disk = random_bytes(17 * 512, 13);
    write_file(file, disk);
    LoopDevice loop(file);
    const bool block_device = !loop.path.empty();
    if (block_device) cases.push_back({loop.path, nullptr, 0, 0});
    for (const Case& c : cases) {
        const Outcome r = run_tool({c.path});
        if (c.call == nullptr) {
            EXPECT_EQ(r.status, 0) << c.path << ": " << r.err;
            continue;
        }
        EXPECT_EQ(r.status, 1) << c.path;
        EXPECT_THAT(r.err, report_line(site("main", c.call, c.nth), text(c.error)));
    }
    loop.detach();  // writes the device's blocks through to the file
    if (block_device) {
        EXPECT_EQ(read_file(file), converted(disk));
    }
}

TEST_F(Quoxel, AMissingFileIsReportedAndNotCreated) {
    const Outcome r = run_tool({file});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, report_line(site("main", "fopen"), text(ENOENT)));
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(exists(file));
}

TEST_F(Quoxel, ADirectoryIsReported) {
    const Outcome r = run_tool({dir.path("")});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, report_line(site("main", "fopen"), text(windows ? EACCES : EISDIR)));
    EXPECT_EQ(r.out, "");
}

// RLIMIT_FSIZE makes every write that reaches past the limit fail with EFBIG, although the file
// does not grow: a way to make a write fail without special privileges.
TEST_F(Quoxel, AWriteFailingInAMiddleBlockIsReportedAndStopsThere) {
    const Bytes content = random_bytes(4 + 3 * block + 100, 3);
    write_file(file, content);
    const std::size_t limit = 4 + block + 100;  // inside the second block
    const Outcome r = run_tool({file}, {.file_size_limit = limit});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, write_limit_report());
    EXPECT_EQ(r.out, "");

    // Up to the limit converted (the failing block's accepted part included); the rest untouched.
    const Bytes after = read_file(file);
    const Bytes expect = converted(content);
    ASSERT_EQ(after.size(), content.size());
    EXPECT_EQ(Bytes(after.begin(), after.begin() + static_cast<long>(limit)),
              Bytes(expect.begin(), expect.begin() + static_cast<long>(limit)));
    EXPECT_EQ(Bytes(after.begin() + static_cast<long>(limit), after.end()),
              Bytes(content.begin() + static_cast<long>(limit), content.end()));
}

TEST_F(Quoxel, AWriteFailingInTheLastBlockIsNeverReportedAsSuccess) {
    struct Case {
        std::size_t cut;
        bool signal;  // SIGXFSZ at its default action, as a shell's ulimit -f leaves it
    };
    for (const Case c : {Case{0, false}, Case{5, false}, Case{5, true}}) {
        if (c.signal && windows) continue;  // no such signal on Windows; Wine would die of it
        const Bytes content = random_bytes(4 + block + 10, 4);
        write_file(file, content);
        const Outcome r = run_tool({file}, {.file_size_limit = 4 + block + c.cut, .file_size_signal = c.signal});
        EXPECT_EQ(r.status, 1) << c.cut << (c.signal ? " with SIGXFSZ" : "");
        EXPECT_THAT(r.err, write_limit_report());
        const Bytes after = read_file(file);
        ASSERT_EQ(after.size(), content.size());
        EXPECT_EQ(after.back(), content.back());
    }
}

// Every report site of the tool, each reached by a failure of the call it checks: injected into
// the Nth call of that function where no file brings it about. The file has two whole blocks and
// a short one; its calls are, in order: fseeko to the end, ftello, fseeko and fread for the size
// probe, then per block fseeko, fread, fseeko and fwrite, and fclose. Each row checks the exact
// line, status 1, and how far the file got: untouched before the first write, converted up to
// the failing block after it, and never a status 0 after a failed last write or close.
TEST_F(Quoxel, EveryReportSiteGivesItsLineAndStopsWhereTheFaultWas) {
    if (!can_inject_faults()) GTEST_SKIP() << "faults are injected only into the tool built here, on Linux";
    const std::size_t size = kept_bytes + 2 * block + 100;
    struct Row {
        std::string fault;    // for the injector: CALL:N:ERROR
        ReportSite site;
        std::string rest;     // what follows the location
        std::size_t through;  // the file is converted up to here, and unchanged after it
        std::size_t length;   // and is this long
        std::vector<int> closed{};
        std::string path{};   // another file than the sample
    };
    const std::vector<Row> rows = {
        // A closed standard descriptor, and no null device to put there (a chroot, a sandbox).
        {"open:1:EACCES", site("open_standard_descriptors", "open"), text(EACCES), 0, size, {0}},
        {"signal:1:EINVAL", site("main", "signal"), text(EINVAL), 0, size},
        {"fopen:1:EMFILE", site("main", "fopen"), text(EMFILE), 0, size},
        {"setvbuf:1:ENOMEM", site("main", "setvbuf"), text(ENOMEM), 0, size},
        {"fseeko:1:EIO", site("main", "fseek"), text(EIO), 0, size},
        {"ftello:1:EOVERFLOW", site("main", "ftell"), text(EOVERFLOW), 0, size},
        // Data past the measured end needs no fault: a device that gives it without end.
        {"", site("main", "ftell", 2), text(ESPIPE), 0, size, {}, "/dev/zero"},
        {"fseeko:2:EIO", site("size_is_exact", "fseek"), text(EIO), 0, size},
        {"fseeko:5:EIO", site("reverse_nibbles", "fseek", 1), text(EIO), kept_bytes + block, size},
        {"fread:3:EIO", site("reverse_nibbles", "fread"), "fread: " + text(EIO), kept_bytes + block, size},
        // The file cut during the run: nothing of the short block is written back.
        {"fread:3:short", site("reverse_nibbles", "fread"), "unexpected EOF", kept_bytes + block,
         kept_bytes + block + block / 2},
        {"fseeko:6:EIO", site("reverse_nibbles", "fseek", 2), text(EIO), kept_bytes + block, size},
        {"fwrite:3:ENOSPC", site("reverse_nibbles", "fwrite"), "fwrite: " + text(ENOSPC), kept_bytes + 2 * block,
         size},
        {"fclose:1:EIO", site("main", "fclose"), text(EIO), size, size},
    };
    std::vector<int> reached;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.fault.empty() ? row.path : row.fault);
        reached.push_back(row.site.line);
        const Bytes content = random_bytes(size, static_cast<unsigned>(row.site.line));
        write_file(file, content);
        const Outcome r =
            run_tool({row.path.empty() ? file : row.path}, {.closed = row.closed, .fault = row.fault});
        EXPECT_EQ(r.status, 1);
        EXPECT_THAT(r.err, report_line(row.site, row.rest));
        EXPECT_EQ(r.out, "");
        Bytes expect = converted(content);
        std::copy(content.begin() + static_cast<long>(row.through), content.end(),
                  expect.begin() + static_cast<long>(row.through));
        expect.resize(row.length);
        EXPECT_EQ(read_file(file), expect);
    }

    // No report site without a row.
    for (const ReportSite& any : report_sites("quoxel.cpp")) {
        EXPECT_NE(std::find(reached.begin(), reached.end(), any.line), reached.end())
            << "no row for quoxel.cpp:" << any.line << ":" << any.function << ":" << any.call;
    }
}

TEST_F(Quoxel, LineEndBytesAreConvertedLikeAnyOther) {
    const std::uint8_t line_ends[] = {0x0A, 0x0D, 0x1A};  // LF, CR and the old end-of-text mark
    Bytes content;
    for (std::size_t i = 0; i < 3000; ++i) content.push_back(line_ends[i % 3]);
    write_file(file, content);
    ASSERT_EQ(run_tool({file}).status, 0);
    const Bytes after = read_file(file);
    EXPECT_EQ(after.size(), content.size());
    EXPECT_EQ(after, converted(content));
    EXPECT_EQ(after[4], 0xD0);  // the CR at offset 4
}

TEST_F(Quoxel, OpensAFileNameOutsideAsciiAndOutsideTheSystemCodePage) {
    const std::string name = dir.path("\xd1\x84\xd0\xb0\xd0\xb9\xd0\xbb-\xc3\xa9-\xe6\x97\xa5.wav");  // UTF-8
    const Bytes content = random_bytes(300, 9);
    write_file(name, content);
    const Outcome r = run_tool({name});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(name), converted(content));
}

// A sparse file over 4 GiB with known bytes at the start, around 2^31 and 2^32 and at the end,
// where a 32-bit position or byte count would wrap: each of them converted, the length unchanged.
// It writes 4 GiB, so it runs only where QUOXEL_LARGE_FILE_TEST asks for it.
TEST(LargeFile, ConvertsAFileOverFourGiBToItsLastByte) {
    const char* wanted = std::getenv("QUOXEL_LARGE_FILE_TEST");
    if (wanted == nullptr || *wanted == '\0' || *wanted == '0') {
        GTEST_SKIP() << "it writes 4 GiB: set QUOXEL_LARGE_FILE_TEST=1 to run it";
    }
    ScratchDir dir;
    const std::string file = dir.path("large.wav");
    const std::uint64_t size = (std::uint64_t{1} << 32) + block + 5;
    ASSERT_GE(std::filesystem::space(dir.path("")).available, size + (std::uint64_t{1} << 30))
        << "needs 5 GiB free in " << dir.path("");
    const std::uint64_t marks[] = {0, (std::uint64_t{1} << 31) - 8, (std::uint64_t{1} << 32) - 8, size - 16};
    write_file(file, {});
    std::filesystem::resize_file(file, size);
    {
        std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
        for (std::uint64_t at : marks) {
            const Bytes mark = random_bytes(16, static_cast<unsigned>(at));
            f.seekp(static_cast<std::streamoff>(at));
            f.write(reinterpret_cast<const char*>(mark.data()), 16);
        }
        ASSERT_TRUE(f.flush());
    }

    const Outcome r = run_tool({file}, {.file_size_limit = size, .seconds = 240});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(std::filesystem::file_size(file), size);
    std::ifstream f(file, std::ios::binary);
    for (std::uint64_t at : marks) {
        Bytes after(16);
        f.seekg(static_cast<std::streamoff>(at));
        f.read(reinterpret_cast<char*>(after.data()), 16);
        const Bytes mark = random_bytes(16, static_cast<unsigned>(at));
        EXPECT_EQ(after, at == 0 ? converted(mark) : converted(mark, 0)) << "at " << at;
    }
}

}  // namespace

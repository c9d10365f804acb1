// End-to-end tests of the quoxel tool: the file's bytes, the exact diagnostic, empty standard
// output and the exit status.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <string>

#include <sys/stat.h>

#include "process.hpp"

namespace {

constexpr std::size_t block = 2048;
const std::string usage = "usage: quoxel file.WAV\n";

// What the tool must make of `in`: the first four bytes kept, every later byte with its halves
// exchanged (written as arithmetic so it is not a copy of the tool's own bit operations).
Bytes converted(const Bytes& in) {
    Bytes out = in;
    for (std::size_t i = 4; i < out.size(); ++i) out[i] = static_cast<std::uint8_t>(out[i] % 16 * 16 + out[i] / 16);
    return out;
}

Bytes random_bytes(std::size_t n, unsigned salt) {
    std::mt19937 gen(salt);
    std::uniform_int_distribution<int> dist(0, 255);
    Bytes b(n);
    for (auto& x : b) x = static_cast<std::uint8_t>(dist(gen));
    return b;
}

// A report line: "<file>:<line>:<function>:<call>: <rest>\n", the line number taken by pattern.
std::regex report(const std::string& function, const std::string& call, const std::string& rest) {
    return std::regex("quoxel\\.cpp:[1-9][0-9]*:" + function + ":" + call + ": " + rest + "\n");
}

// QUOXEL_WINDOWS says the tool under test is the Windows build (run under Wine).
const bool windows = [] {
    const char* flag = std::getenv("QUOXEL_WINDOWS");
    return flag != nullptr && *flag != '\0' && *flag != '0';
}();

std::string system_text(int error) { return regex_escaped(std::strerror(error)); }

// The text of a failed write under a file size limit: EFBIG's here; under Wine the limit shows
// as whatever error its file layer maps it to.
std::string write_limit_text() { return windows ? "[^\n]+" : system_text(EFBIG); }

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
        EXPECT_TRUE(std::regex_match(r.err, report("reverse_nibbles", "fread", "unexpected EOF"))) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(read_file(file), content);
    }
}

// Started with standard error closed, the tool must not take descriptor 2 for the file: its
// report would then be written into the file.
TEST_F(Quoxel, AClosedStandardErrorNeverLetsAReportIntoTheFile) {
    const Bytes content = {'A', 'B'};
    write_file(file, content);
    EXPECT_EQ(run_tool({file}, {.stderr_closed = true}).status, 1);
    EXPECT_EQ(read_file(file), content);
}

// A FIFO cannot be sought, and /dev/zero reports a size of 0 but gives data without end: both are
// refused while the size is taken, before anything is written.
TEST_F(Quoxel, AFileWithoutAnEndToSeekToIsRefused) {
    const std::string fifo = dir.path("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    struct Case {
        std::string path;
        const char* call;
        int error;  // under Wine, its runtime's errors
    };
    for (const Case& c : {Case{fifo, "fseek", windows ? EINVAL : ESPIPE},
                          Case{"/dev/zero", "ftell", windows ? EFBIG : ESPIPE}}) {
        const Outcome r = run_tool({c.path});
        EXPECT_EQ(r.status, 1) << c.path;
        EXPECT_TRUE(std::regex_match(r.err, report("main", c.call, system_text(c.error)))) << r.err;
    }
}

TEST_F(Quoxel, AMissingFileIsReportedAndNotCreated) {
    const Outcome r = run_tool({file});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(std::regex_match(r.err, report("main", "fopen", system_text(ENOENT)))) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(exists(file));
}

TEST_F(Quoxel, ADirectoryIsReported) {
    const Outcome r = run_tool({dir.path("")});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(std::regex_match(r.err, report("main", "fopen", system_text(windows ? EACCES : EISDIR)))) << r.err;
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
    EXPECT_TRUE(std::regex_match(r.err, report("reverse_nibbles", "fwrite", "fwrite: " + write_limit_text()))) << r.err;
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
    for (std::size_t cut : {std::size_t{0}, std::size_t{5}}) {
        const Bytes content = random_bytes(4 + block + 10, 4);
        write_file(file, content);
        const Outcome r = run_tool({file}, {.file_size_limit = 4 + block + cut});
        EXPECT_EQ(r.status, 1) << cut;
        EXPECT_TRUE(std::regex_match(r.err, report("reverse_nibbles", "fwrite", "fwrite: " + write_limit_text()))) << r.err;
        const Bytes after = read_file(file);
        ASSERT_EQ(after.size(), content.size());
        EXPECT_EQ(after.back(), content.back());
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

// Where the stream position is a 32-bit long, a file of 2 GiB or more cannot be measured. The
// tool must say so before touching the file, never convert a part of it and succeed. Sparse
// files give those sizes without writing gigabytes.
TEST_F(Quoxel, AFileBeyondTheStreamPositionRangeIsRefusedUntouched) {
    if (!windows) GTEST_SKIP() << "the position is 64 bits wide here; every size is converted";
    const Bytes head = {1, 2, 3, 4, 0x12, 0x34, 0x56};
    for (std::uintmax_t size : {std::uintmax_t{1} << 31, std::uintmax_t{3} << 30, std::uintmax_t{1} << 32,
                                (std::uintmax_t{1} << 32) + 5, std::uintmax_t{5} << 30}) {
        write_file(file, head);
        std::filesystem::resize_file(file, size);
        const Outcome r = run_tool({file});
        EXPECT_EQ(r.status, 1) << size;
        EXPECT_TRUE(std::regex_match(r.err, report("main", "ftell", system_text(EFBIG)))) << size << ": " << r.err;
        EXPECT_EQ(std::filesystem::file_size(file), size);
        std::ifstream f(file, std::ios::binary);
        Bytes start(head.size());
        f.read(reinterpret_cast<char*>(start.data()), static_cast<std::streamsize>(start.size()));
        EXPECT_EQ(start, head) << size;
    }
}

}  // namespace

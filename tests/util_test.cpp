// Tests of the util library: codecs by their vectors, strict stream reads and writes on
// temporary files, the stream utilities, and every failure report by death test.
#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/resource.h>
#endif

#include "files.hpp"
#include "report_line.hpp"
#include "util.hpp"

using namespace util;

namespace {

// The `nth` report of `call` (or of the message `call`) in `function` of the library.
ReportSite util_site(const std::string& function, const std::string& call, int nth = 1) {
    return report_site("util.cpp", function, call, nth);
}

// A temporary stream removed when the test ends.
struct TempStream {
    std::FILE* f = std::tmpfile();
    explicit TempStream(const Bytes& content = {}) {
        if (f == nullptr) throw std::runtime_error("tmpfile failed");
        if (!content.empty()) std::fwrite(content.data(), 1, content.size(), f);
        std::rewind(f);
    }
    ~TempStream() { std::fclose(f); }
    TempStream(const TempStream&) = delete;
    TempStream& operator=(const TempStream&) = delete;
    Bytes contents() const {
        std::fflush(f);
        Bytes all(static_cast<std::size_t>((std::fseek(f, 0, SEEK_END), std::ftell(f))));
        std::rewind(f);
        all.resize(std::fread(all.data(), 1, all.size(), f));
        return all;
    }
};

// ---- Failure-report location ----

static_assert(std::string_view(base_name("quoxel.cpp")) == "quoxel.cpp");
static_assert(std::string_view(base_name("/src/q/util.cpp")) == "util.cpp");
static_assert(std::string_view(base_name("C:\\src\\q\\util.cpp")) == "util.cpp");
static_assert(std::string_view(base_name("C:\\src/mixed\\util.cpp")) == "util.cpp");

// ---- Codecs, at compile time: reading or writing outside an array would not compile ----

constexpr std::uint8_t pair[2] = {0x34, 0x12};
static_assert(read_16_le(pair) == 0x1234 && read_16_be(pair) == 0x3412);
constexpr std::uint8_t high[8] = {0x80, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x02};
static_assert(read_32_be(high) == 0x80000001U && read_32_le(high) == 0x01000080U);
static_assert(read_64_be(high) == 0x8000000100000002ULL);
constexpr std::uint8_t counting[8] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};
static_assert(read_64_be(counting) == 0x0102030405060708ULL);

template <std::size_t N, class Write>
constexpr std::array<std::uint8_t, N> encoded(Write write) {
    std::array<std::uint8_t, N> bytes{};
    write(bytes.data());
    return bytes;
}
static_assert(encoded<2>([](std::uint8_t* p) { write_16_le(0x1234, p); }) == std::array<std::uint8_t, 2>{0x34, 0x12});
static_assert(encoded<2>([](std::uint8_t* p) { write_16_be(0x1234, p); }) == std::array<std::uint8_t, 2>{0x12, 0x34});
static_assert(encoded<4>([](std::uint8_t* p) { write_32_le(0xA1B2C3D4U, p); }) ==
              std::array<std::uint8_t, 4>{0xD4, 0xC3, 0xB2, 0xA1});
static_assert(encoded<4>([](std::uint8_t* p) { write_32_be(0xA1B2C3D4U, p); }) ==
              std::array<std::uint8_t, 4>{0xA1, 0xB2, 0xC3, 0xD4});

TEST(Codecs, ReadersAndWritersAgreeOnEveryVectorInMemoryAndOnStreams) {
    struct Vector {
        std::array<std::uint8_t, 8> bytes;
        std::uint16_t le16, be16;
        std::uint32_t le32, be32;
        std::uint64_t be64;
    };
    const Vector vectors[] = {
        {{0x34, 0x12, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, 0x1234, 0x3412, 0x00001234, 0x34120000, 0x3412000000000000},
        {{0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08}, 0x0201, 0x0102, 0x04030201, 0x01020304, 0x0102030405060708},
        {{0x80, 0x7F, 0xFE, 0x81, 0x00, 0xFF, 0x10, 0x01}, 0x7F80, 0x807F, 0x81FE7F80, 0x807FFE81, 0x807FFE8100FF1001},
        {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 0xFFFF, 0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFFFFFFFFFF},
        // Every top bit set and every byte different: a byte that sign-extends or lands in the
        // wrong place shows.
        {{0x80, 0x91, 0xA2, 0xB3, 0xC4, 0xD5, 0xE6, 0xF7}, 0x9180, 0x8091, 0xB3A29180, 0x8091A2B3, 0x8091A2B3C4D5E6F7},
    };
    for (const Vector& v : vectors) {
        SCOPED_TRACE(testing::Message() << std::hex << v.be64);
        EXPECT_EQ(read_16_le(v.bytes.data()), v.le16);
        EXPECT_EQ(read_16_be(v.bytes.data()), v.be16);
        EXPECT_EQ(read_32_le(v.bytes.data()), v.le32);
        EXPECT_EQ(read_32_be(v.bytes.data()), v.be32);
        EXPECT_EQ(read_64_be(v.bytes.data()), v.be64);

        // Writers give back the bytes, and touch nothing around their width.
        const auto check_writer = [&](std::size_t width, const std::function<void(std::uint8_t*)>& write) {
            std::array<std::uint8_t, 10> out;
            out.fill(0xEE);
            write(out.data() + 1);
            EXPECT_EQ(out[0], 0xEE);
            EXPECT_TRUE(std::equal(v.bytes.begin(), v.bytes.begin() + static_cast<long>(width), out.begin() + 1));
            for (std::size_t i = width + 1; i < out.size(); ++i) EXPECT_EQ(out[i], 0xEE) << "width " << width;
        };
        check_writer(2, [&](std::uint8_t* p) { write_16_le(v.le16, p); });
        check_writer(2, [&](std::uint8_t* p) { write_16_be(v.be16, p); });
        check_writer(4, [&](std::uint8_t* p) { write_32_le(v.le32, p); });
        check_writer(4, [&](std::uint8_t* p) { write_32_be(v.be32, p); });

        std::uint8_t le[4], be[4];
        write_32_le(v.le32, le);
        write_32_be(v.le32, be);
        EXPECT_TRUE(std::equal(le, le + 4, std::reverse_iterator(be + 4)));

        // The same values through the stream readers and writers.
        const Bytes bytes(v.bytes.begin(), v.bytes.end());
        TempStream in(bytes);
        EXPECT_EQ(get_byte(in.f), v.bytes[0]);
        EXPECT_EQ(get_16_le_seek(0, in.f), v.le16);
        EXPECT_EQ(get_16_be_seek(0, in.f), v.be16);
        EXPECT_EQ(get_32_le_seek(0, in.f), v.le32);
        EXPECT_EQ(get_32_be_seek(0, in.f), v.be32);
        EXPECT_EQ(get_64_be_seek(0, in.f), v.be64);
        TempStream out;
        put_byte(v.bytes[0], out.f);
        put_16_le(v.le16, out.f);
        put_16_be(v.be16, out.f);
        put_32_le(v.le32, out.f);
        put_32_be(v.be32, out.f);
        Bytes expected(bytes.begin(), bytes.begin() + 1);
        for (long width : {2, 2, 4, 4}) expected.insert(expected.end(), bytes.begin(), bytes.begin() + width);
        EXPECT_EQ(out.contents(), expected);
    }
}

// ---- Streams ----

const Bytes sixteen = {0x81, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08,
                       0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x10};

TEST(StrictStreams, ReadersDecodeAtTheCurrentPositionAndAtAnOffset) {
    TempStream s(sixteen);
    EXPECT_EQ(get_byte(s.f), 0x81);
    EXPECT_EQ(get_16_be(s.f), 0x0203);
    EXPECT_EQ(get_16_le(s.f), 0x0504);
    EXPECT_EQ(get_32_be(s.f), 0x06070809U);
    EXPECT_EQ(get_32_le(s.f), 0x0D0C0B0AU);
    EXPECT_EQ(std::ftell(s.f), 13);

    EXPECT_EQ(get_byte_seek(15, s.f), 0x10);
    EXPECT_EQ(get_16_be_seek(0, s.f), 0x8102);
    EXPECT_EQ(get_16_le_seek(0, s.f), 0x0281);
    EXPECT_EQ(get_32_be_seek(0, s.f), 0x81020304U);  // top bit set, nothing lost
    EXPECT_EQ(get_32_le_seek(12, s.f), 0x100F0E0DU);
    EXPECT_EQ(get_64_be_seek(0, s.f), 0x8102030405060708ULL);
    EXPECT_EQ(get_64_be(s.f), 0x090A0B0C0D0E0F10ULL);

    std::uint8_t run[5] = {};
    get_bytes_seek(3, s.f, run, sizeof run);
    EXPECT_EQ(Bytes(run, run + 5), Bytes(sixteen.begin() + 3, sixteen.begin() + 8));
    get_bytes(s.f, run, 1);
    EXPECT_EQ(run[0], sixteen[8]);
    get_bytes(s.f, run, 0);
    get_bytes_seek(16, s.f, nullptr, 0);  // nothing moved, even at the end
    EXPECT_EQ(std::ftell(s.f), 16);
}

TEST(StrictStreams, WritersPutTheLowBitsOfTheirWidthInTheirOrder) {
    struct Case {
        const char* name;
        std::function<void(std::FILE*)> put;
        Bytes expected;
    };
    constexpr std::uint32_t value = 0xAABB1234U;
    const Bytes head = {0xEE, 0xEE, 0xEE};  // three bytes before the _seek writers' offset
    const std::vector<Case> cases = {
        {"put_byte", [](std::FILE* f) { put_byte(value, f); }, {0x34}},
        {"put_16_le", [](std::FILE* f) { put_16_le(value, f); }, {0x34, 0x12}},
        {"put_16_be", [](std::FILE* f) { put_16_be(value, f); }, {0x12, 0x34}},
        {"put_32_le", [](std::FILE* f) { put_32_le(value, f); }, {0x34, 0x12, 0xBB, 0xAA}},
        {"put_32_be", [](std::FILE* f) { put_32_be(value, f); }, {0xAA, 0xBB, 0x12, 0x34}},
        {"put_bytes", [](std::FILE* f) { put_bytes(f, "\x01\x02\x03", 3); }, {0x01, 0x02, 0x03}},
        {"put_bytes 0", [](std::FILE* f) { put_bytes(f, nullptr, 0); }, {}},
        {"put_byte_seek", [](std::FILE* f) { put_byte_seek(value, 3, f); }, {0xEE, 0xEE, 0xEE, 0x34}},
        {"put_16_le_seek", [](std::FILE* f) { put_16_le_seek(value, 3, f); }, {0xEE, 0xEE, 0xEE, 0x34, 0x12}},
        {"put_16_be_seek", [](std::FILE* f) { put_16_be_seek(value, 3, f); }, {0xEE, 0xEE, 0xEE, 0x12, 0x34}},
        {"put_32_le_seek", [](std::FILE* f) { put_32_le_seek(value, 3, f); }, {0xEE, 0xEE, 0xEE, 0x34, 0x12, 0xBB, 0xAA}},
        {"put_32_be_seek", [](std::FILE* f) { put_32_be_seek(value, 3, f); }, {0xEE, 0xEE, 0xEE, 0xAA, 0xBB, 0x12, 0x34}},
        {"put_bytes_seek", [](std::FILE* f) { put_bytes_seek(1, f, "\x09", 1); }, {0xEE, 0x09, 0xEE}},
    };
    for (const Case& c : cases) {
        const bool seeks = std::string(c.name).ends_with("_seek");
        TempStream s(seeks ? head : Bytes{});
        std::fseek(s.f, 0, SEEK_END);  // an absolute seek must not depend on where the stream stands
        c.put(s.f);
        EXPECT_EQ(s.contents(), c.expected) << c.name;
    }
}

TEST(StrictStreams, EveryWriterIsReadBackByItsReader) {
    TempStream s;
    for (std::uint32_t v : {0x00000000U, 0x0000FFFFU, 0x80000001U, 0xDEADBEEFU}) {
        std::rewind(s.f);
        put_byte(v, s.f);
        put_16_le(v, s.f);
        put_16_be(v, s.f);
        put_32_le(v, s.f);
        put_32_be(v, s.f);
        EXPECT_EQ(get_byte_seek(0, s.f), v & 0xFFU);
        EXPECT_EQ(get_16_le(s.f), v & 0xFFFFU);
        EXPECT_EQ(get_16_be(s.f), v & 0xFFFFU);
        EXPECT_EQ(get_32_le(s.f), v);
        EXPECT_EQ(get_32_be(s.f), v);
    }
}

// ---- Failure reports ----

#ifdef _WIN32
constexpr const char* null_device = "NUL";
constexpr bool posix_devices = false;  // no /dev/full, and directories cannot be opened as streams
#else
constexpr const char* null_device = "/dev/null";
constexpr bool posix_devices = true;
#endif

std::string text(int error) { return std::strerror(error); }

// One report of each form, each made in a function of its own here, whose line the test finds in
// this file as it finds the library's.
[[noreturn]] void seek_failed() {
    report_call_error("fseek");
}
[[noreturn]] void number_refused() {
    report_error_message("bad number format");
}
[[noreturn]] void write_failed(std::FILE* stream) {
    report_transfer_error("fwrite", stream);
}

TEST(ReportsDeathTest, TheThreeFormsCarryTheLocationOfTheCheck) {
    const auto here = [](const char* function, const char* call) {
        return report_site("tests/util_test.cpp", function, call);
    };
    EXPECT_EXIT((errno = ENOSPC, seek_failed()), testing::ExitedWithCode(1),
                report_line(here("seek_failed", "fseek"), text(ENOSPC)));
    EXPECT_EXIT((errno = ENOSPC, number_refused()), testing::ExitedWithCode(1),
                message_line(here("number_refused", "bad number format")));
    TempStream s;
    EXPECT_EXIT((errno = EIO, write_failed(s.f)), testing::ExitedWithCode(1),
                report_line(here("write_failed", "fwrite"), "fwrite: " + text(EIO)));
}

// A folder that a death test's child finds too, however death tests are run.
std::string current_test() { return testing::UnitTest::GetInstance()->current_test_info()->name(); }

TEST(ReportsDeathTest, ExitFlushesWhatOtherStreamsHold) {
    ScratchDir dir(current_test());
    TempStream s;
    const std::vector<std::function<void()>> reports = {
        [] { report_call_error("fseek"); },
        [&] { report_transfer_error("fread", s.f); },
        [] { report_error_message("stop"); },
    };
    // One file per form, checked only after all have died: a death test's child that repeats the
    // test up to its own statement must find nothing changed on the way.
    const auto path = [&](std::size_t form) { return dir.path("buffered" + std::to_string(form)); };
    for (std::size_t form = 0; form < reports.size(); ++form) {
        EXPECT_EXIT(
            {
                std::FILE* f = std::fopen(path(form).c_str(), "wb");
                std::fputs("kept", f);
                reports[form]();
            },
            testing::ExitedWithCode(1), "util_test");
    }
    for (std::size_t form = 0; form < reports.size(); ++form) {
        EXPECT_EQ(read_file(path(form)), Bytes({'k', 'e', 'p', 't'})) << "form " << form;
    }
}

TEST(StrictStreamsDeathTest, AShortReadAtTheEndIsUnexpectedEofUnderThePlainReader) {
    TempStream s({0x01, 0x02, 0x03});
    std::uint8_t run[4];
    const std::vector<std::pair<const char*, std::function<void()>>> reads = {
        {"get_byte", [&] { std::fseek(s.f, 3, SEEK_SET), get_byte(s.f); }},
        {"get_32_le", [&] { get_32_le(s.f); }},
        {"get_32_be", [&] { get_32_be(s.f); }},
        {"get_16_be", [&] { get_16_be_seek(100, s.f); }},  // the seek succeeds, the read finds nothing
        {"get_64_be", [&] { get_64_be_seek(0, s.f); }},
        {"get_bytes", [&] { get_bytes_seek(0, s.f, run, 4); }},
    };
    for (const auto& [reader, read] : reads) {
        EXPECT_EXIT(read(), testing::ExitedWithCode(1), report_line(util_site(reader, "fread"), "unexpected EOF"));
    }
}

TEST(StrictStreamsDeathTest, AReadErrorGivesTheSystemText) {
    if (!posix_devices) GTEST_SKIP() << "a directory cannot be opened as a stream here";
    ScratchDir dir;
    std::FILE* directory = std::fopen(dir.path("").c_str(), "rb");
    ASSERT_NE(directory, nullptr);
    std::uint8_t run[4];
    EXPECT_EXIT(get_bytes(directory, run, 4), testing::ExitedWithCode(1),
                report_line(util_site("get_bytes", "fread"), "fread: " + text(EISDIR)));
    EXPECT_EXIT(get_16_le(directory), testing::ExitedWithCode(1),
                report_line(util_site("get_16_le", "fread"), "fread: " + text(EISDIR)));
    std::fclose(directory);
}

TEST(StrictStreamsDeathTest, AShortWriteIsReportedByThePlainWriter) {
    if (posix_devices) {
        std::FILE* full = std::fopen("/dev/full", "wb");
        ASSERT_NE(full, nullptr);
        std::setvbuf(full, nullptr, _IONBF, 0);
        EXPECT_EXIT(put_32_be(1, full), testing::ExitedWithCode(1),
                    report_line(util_site("put_32_be", "fwrite"), "fwrite: " + text(ENOSPC)));
        EXPECT_EXIT(put_16_le_seek(1, 0, full), testing::ExitedWithCode(1),
                    report_line(util_site("put_16_le", "fwrite"), "fwrite: " + text(ENOSPC)));
        std::fclose(full);
    }

    std::FILE* read_only = std::fopen(null_device, "rb");
    ASSERT_NE(read_only, nullptr);
    EXPECT_EXIT(put_byte(1, read_only), testing::ExitedWithCode(1),
                report_line(util_site("put_byte", "fwrite"), "fwrite: " + text(EBADF)));
    EXPECT_EXIT(put_16_be(1, read_only), testing::ExitedWithCode(1),
                report_line(util_site("put_16_be", "fwrite"), "fwrite: " + text(EBADF)));
    EXPECT_EXIT(put_32_le(1, read_only), testing::ExitedWithCode(1),
                report_line(util_site("put_32_le", "fwrite"), "fwrite: " + text(EBADF)));
    EXPECT_EXIT(put_bytes(read_only, "ab", 2), testing::ExitedWithCode(1),
                report_line(util_site("put_bytes", "fwrite"), "fwrite: " + text(EBADF)));
    std::fclose(read_only);
}

TEST(StrictStreamsDeathTest, AFailedSeekNamesTheSeekVariant) {
    TempStream s(sixteen);
    std::uint8_t run[1];
    const std::vector<std::pair<const char*, std::function<void()>>> variants = {
        {"get_byte_seek", [&] { get_byte_seek(-1, s.f); }},
        {"get_16_be_seek", [&] { get_16_be_seek(-1, s.f); }},
        {"get_16_le_seek", [&] { get_16_le_seek(-1, s.f); }},
        {"get_32_be_seek", [&] { get_32_be_seek(-1, s.f); }},
        {"get_32_le_seek", [&] { get_32_le_seek(-1, s.f); }},
        {"get_64_be_seek", [&] { get_64_be_seek(-1, s.f); }},
        {"get_bytes_seek", [&] { get_bytes_seek(-1, s.f, run, 1); }},
        {"put_byte_seek", [&] { put_byte_seek(0, -1, s.f); }},
        {"put_16_be_seek", [&] { put_16_be_seek(0, -1, s.f); }},
        {"put_16_le_seek", [&] { put_16_le_seek(0, -1, s.f); }},
        {"put_32_be_seek", [&] { put_32_be_seek(0, -1, s.f); }},
        {"put_32_le_seek", [&] { put_32_le_seek(0, -1, s.f); }},
        {"put_bytes_seek", [&] { put_bytes_seek(-1, s.f, run, 1); }},
    };
    for (const auto& [name, call] : variants) {
        EXPECT_EXIT(call(), testing::ExitedWithCode(1), report_line(util_site(name, "fseek"), text(EINVAL))) << name;
    }
}

// ---- Stream utilities ----

Bytes pattern(std::size_t n) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
    return b;
}

TEST(Dump, CopiesTheRangeToWhereOutStands) {
    const Bytes source = pattern(6000);
    TempStream in(source);
    {
        TempStream out;
        dump(in.f, out.f, 321, 0);
        EXPECT_EQ(std::ftell(in.f), 321);  // sought, nothing else
        EXPECT_TRUE(out.contents().empty());
    }
    {
        TempStream out({'a', 'b', 'c', 'd', 'e'});
        std::fseek(out.f, 3, SEEK_SET);
        dump(in.f, out.f, 7, 5000);  // blocks of 2048, 2048 and 904, over "de" and on
        Bytes expected = {'a', 'b', 'c'};
        expected.insert(expected.end(), source.begin() + 7, source.begin() + 5007);
        EXPECT_EQ(out.contents(), expected);
    }
}

// dump's block is part of its interface, which states it: what a failed copy has written
// depends on it.
const std::size_t dump_block = source_number("util.hpp", "([0-9]+)-byte blocks");

TEST(DumpDeathTest, ReportsTheStreamThatFailed) {
    ScratchDir dir(current_test());
    const Bytes source = pattern(5000);
    TempStream in(source);

    // A range past the end of the source copies its whole blocks, and nothing of the block that
    // reads short: from 1500 bytes, nothing at all.
    const std::size_t sizes[] = {source.size(), 1500};
    const auto out_path = [&](std::size_t size) { return dir.path("out" + std::to_string(size)); };
    for (const std::size_t size : sizes) {
        TempStream shorter(Bytes(source.begin(), source.begin() + static_cast<long>(size)));
        EXPECT_EXIT(
            {
                std::FILE* out = std::fopen(out_path(size).c_str(), "wb");
                dump(shorter.f, out, 0, 2 * size);
            },
            testing::ExitedWithCode(1), report_line(util_site("dump", "fread"), "unexpected EOF"));
    }

    EXPECT_EXIT(dump(in.f, in.f, -5, 1), testing::ExitedWithCode(1),
                report_line(util_site("dump", "fseek"), text(EINVAL)));

    std::FILE* read_only = std::fopen(null_device, "rb");
    ASSERT_NE(read_only, nullptr);
    EXPECT_EXIT(dump(in.f, read_only, 0, 10), testing::ExitedWithCode(1),
                report_line(util_site("dump", "fwrite"), "fwrite: " + text(EBADF)));
    std::fclose(read_only);

#ifndef _WIN32
    // A block written only in part, under a file size limit inside the last block: reported, not
    // returned from, with the bytes up to the limit in the file.
    const std::size_t limit = source.size() - source.size() % dump_block / 2;
    const std::string limited = dir.path("limited");
    EXPECT_EXIT(
        {
            rlimit size_limit{};
            size_limit.rlim_cur = size_limit.rlim_max = limit;
            setrlimit(RLIMIT_FSIZE, &size_limit);
            std::signal(SIGXFSZ, SIG_IGN);
            std::FILE* out = std::fopen(limited.c_str(), "wb");
            std::setvbuf(out, nullptr, _IONBF, 0);
            dump(in.f, out, 0, source.size());
        },
        testing::ExitedWithCode(1), report_line(util_site("dump", "fwrite"), "fwrite: " + text(EFBIG)));
#endif

    // Checked only after all have died: a death test's child that repeats the test up to its own
    // statement must find nothing changed on the way.
    for (const std::size_t size : sizes) {
        const auto whole_blocks = static_cast<long>(size / dump_block * dump_block);
        EXPECT_EQ(read_file(out_path(size)), Bytes(source.begin(), source.begin() + whole_blocks)) << size << " bytes";
    }
#ifndef _WIN32
    EXPECT_EQ(read_file(limited), Bytes(source.begin(), source.begin() + static_cast<long>(limit)));
#endif
}

TEST(Pad, FillsWithZerosUpToTheBoundary) {
    struct Case {
        long offset, alignment, end;
    };
    const long half = LONG_MAX / 2 + 1;  // a power of two
    for (const Case c : {Case{5, 4, 8}, Case{8, 4, 8}, Case{0, 16, 0}, Case{1, 1, 1}, Case{9, 16, 16},
                         Case{LONG_MAX, 1, LONG_MAX}, Case{LONG_MAX, LONG_MAX, LONG_MAX},
                         Case{LONG_MAX - 1, 3, LONG_MAX - 1}, Case{half, half, half}}) {
        TempStream s(Bytes(20, 0xFF));
        EXPECT_EQ(pad(c.offset, c.alignment, s.f), c.end);
        const Bytes after = s.contents();
        for (long i = 0; i < 20; ++i) {
            EXPECT_EQ(after[static_cast<std::size_t>(i)], i >= c.offset && i < c.end ? 0x00 : 0xFF)
                << "pad(" << c.offset << ", " << c.alignment << ") at " << i;
        }
    }
}

TEST(PadDeathTest, RejectsWhatItCannotAlign) {
    TempStream s;
    EXPECT_EXIT(pad(3, 0, s.f), testing::ExitedWithCode(1), message_line(util_site("pad", "bad alignment")));
    // A negative offset is refused by the first check, one whose boundary would pass LONG_MAX by the second.
    EXPECT_EXIT(pad(-1, 4, s.f), testing::ExitedWithCode(1), message_line(util_site("pad", "bad offset", 1)));
    EXPECT_EXIT(pad(LONG_MAX - 2, 8, s.f), testing::ExitedWithCode(1), message_line(util_site("pad", "bad offset", 2)));
    EXPECT_EXIT(pad(LONG_MAX, 2, s.f), testing::ExitedWithCode(1), message_line(util_site("pad", "bad offset", 2)));
    std::FILE* read_only = std::fopen(null_device, "rb");
    ASSERT_NE(read_only, nullptr);
    for (const long alignment : {2L, LONG_MAX}) {  // the gap up to LONG_MAX itself is no overflow
        EXPECT_EXIT(pad(1, alignment, read_only), testing::ExitedWithCode(1),
                    report_line(util_site("put_byte", "fwrite"), "fwrite: " + text(EBADF)));
    }
    std::fclose(read_only);
}

TEST(FprintfIndent, WritesTheWidthInSpaces) {
    struct Case {
        int width;
        const char* spaces;
        int result;
        int error;  // errno afterwards, for a refusal
    };
    // INT_MIN's magnitude does not fit the result: refused, as any count beyond INT_MAX is.
    for (const Case c : {Case{0, "", 0, 0}, Case{3, "   ", 3, 0}, Case{-3, "   ", 3, 0}, Case{INT_MIN, "", -1, EOVERFLOW}}) {
        TempStream s;
        errno = 0;
        const int result = fprintf_indent(s.f, c.width);
        const int error = errno;
        EXPECT_EQ(result, c.result) << c.width;
        if (c.error != 0) {  // a success leaves errno unspecified
            EXPECT_EQ(error, c.error) << c.width;
        }
        const Bytes out = s.contents();
        EXPECT_EQ(std::string(out.begin(), out.end()), c.spaces) << c.width;
    }
}

TEST(ReadLong, AcceptsWholeNumbersInCNotation) {
    for (const auto& [input, value] : {std::pair{"42", 42L}, std::pair{"0x1F", 31L}, std::pair{"0X1f", 31L},
                                       std::pair{"017", 15L}, std::pair{"-8", -8L}, std::pair{"  7", 7L},
                                       std::pair{"+0", 0L}, std::pair{"", 0L}, std::pair{"-0x10", -16L}}) {
        errno = ERANGE;  // left over from an earlier call; not this number's
        EXPECT_EQ(read_long(input), value) << '"' << input << '"';
    }
    const std::string max = std::to_string(LONG_MAX), min = std::to_string(LONG_MIN);
    EXPECT_EQ(read_long(max.c_str()), LONG_MAX);
    EXPECT_EQ(read_long(min.c_str()), LONG_MIN);
}

TEST(ReadLongDeathTest, RejectsTrailingTextAndOutOfRangeNumbers) {
    std::vector<const char*> inputs = {"12 ", "0x", " ", "-", "+", "abc", "12abc", "08", "1.5"};
#ifndef _WIN32
    inputs.push_back("12\xff");  // a negative char is text left all the same (Wine's strtol fails on it)
#endif
    for (const char* input : inputs) {
        EXPECT_EXIT(read_long(input), testing::ExitedWithCode(1), message_line(util_site("read_long", "bad number format")))
            << '"' << input << '"';
    }
    // The range is tested before the trailing text.
    for (const char* input : {"99999999999999999999999", "-99999999999999999999999", "99999999999999999999999zz"}) {
        EXPECT_EXIT(read_long(input), testing::ExitedWithCode(1), report_line(util_site("read_long", "strtol"), text(ERANGE)))
            << '"' << input << '"';
    }
}

}  // namespace

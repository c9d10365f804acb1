// quoxel FILE: exchange the two 4-bit halves of every byte of FILE from offset 4 to its end,
// in place. The first four bytes are never read or written; running it twice restores the file.
#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>

#include <fcntl.h>
#ifdef _WIN32
#include <io.h>
#else
#include <sys/types.h>
#include <unistd.h>
#endif

#include "util.hpp"

namespace {

constexpr std::int64_t kept_bytes = 4;    // the leading bytes left as they are
constexpr std::size_t block_size = 2048;  // bytes moved per read and per write

// 0xAB -> 0xBA. The result fits in 8 bits by construction.
constexpr std::uint8_t swap_halves(std::uint8_t b) {
    return static_cast<std::uint8_t>((b & 0xF0U) >> 4 | (b & 0x0FU) << 4);
}
static_assert(swap_halves(0x12) == 0x21 && swap_halves(0xA5) == 0x5A);
static_assert(swap_halves(0x00) == 0x00 && swap_halves(0x77) == 0x77 && swap_halves(0xFF) == 0xFF);

// Positions and sizes are 64 bits wide on every platform, so that a file of any size converts:
// the long that fseek and ftell take has 32 bits on Windows and on 32-bit POSIX systems.
#ifdef _WIN32
int seek64(std::FILE* stream, std::int64_t offset, int origin) {
    if (_fseeki64(stream, offset, origin) != 0) return -1;
    // MinGW-w64's 32-bit _fseeki64 goes through fsetpos and leaves the end-of-file indicator set;
    // a seek must clear it, or a later failed write would be reported as an end of file.
    std::clearerr(stream);
    return 0;
}
std::int64_t tell64(std::FILE* stream) { return _ftelli64(stream); }
#else
static_assert(sizeof(off_t) == sizeof(std::int64_t), "build with _FILE_OFFSET_BITS=64");
int seek64(std::FILE* stream, std::int64_t offset, int origin) { return fseeko(stream, offset, origin); }
std::int64_t tell64(std::FILE* stream) { return ftello(stream); }
#endif

// Converts `length` bytes from absolute `offset`, block by block: seek, read, convert, seek back,
// write. On an update stream a read may not follow a write without a positioning call, so each
// block seeks before its read as well as before its write; no position is taken over from the
// previous block. The count is 64 bits wide like the offset: a size_t count would wrap on a
// 32-bit system and convert only the first part of a file of 4 GiB or more.
void reverse_nibbles(std::FILE* stream, std::int64_t offset, std::uint64_t length) {
    std::uint8_t buffer[block_size];
    while (length != 0) {
        std::size_t const n = length < block_size ? static_cast<std::size_t>(length) : block_size;
        if (seek64(stream, offset, SEEK_SET) != 0) report_call_error("fseek");
        if (std::fread(buffer, 1, n, stream) != n) report_transfer_error("fread", stream);
        for (std::uint8_t& b : std::span(buffer, n)) b = swap_halves(b);
        if (seek64(stream, offset, SEEK_SET) != 0) report_call_error("fseek");
        if (std::fwrite(buffer, 1, n, stream) != n) report_transfer_error("fwrite", stream);
        length -= n;
        offset += static_cast<std::int64_t>(n);  // n <= block_size
    }
}

// A descriptor among 0, 1 and 2 left closed by whoever started the process would be the next one
// fopen hands out, and a report meant for standard error would then be written into the file.
// Each closed one is opened on the null device first. The Windows runtime needs none of this: it
// keeps its descriptors 0 to 2 reserved even when the process was started without standard
// handles.
void open_standard_descriptors() {
#ifndef _WIN32
    for (int fd = 0; fd <= 2; ++fd) {
        // open gives the lowest free descriptor, and those below fd are open by now.
        if (fcntl(fd, F_GETFD) == -1 && open("/dev/null", O_RDWR) != fd) report_call_error("open");
    }
#endif
}

// The position after the seek to the end is the file's size only if nothing can be read there.
// A device or pseudo file (/dev/zero, /proc/cpuinfo) reports a size of 0 or so and then gives
// data without end, which would convert the wrong range or never stop; one byte read at the
// reported end tells it from a plain file or a block device.
bool size_is_exact(std::FILE* stream, std::int64_t size) {
    if (seek64(stream, size, SEEK_SET) != 0) report_call_error("fseek");
    std::uint8_t probe[1];
    return std::fread(probe, 1, sizeof probe, stream) == 0;
}

// The path argument and the call that opens it. On Windows both are wide: a narrow argument
// passes a name through the code page, and the narrow file calls stop at 260 characters even for
// a path in the \\?\ form, which the drop program passes for a file at any depth.
#ifdef _WIN32
using path_char = wchar_t;
std::FILE* open_for_update(const wchar_t* path) { return _wfopen(path, L"r+b"); }
#else
using path_char = char;
std::FILE* open_for_update(const char* path) { return std::fopen(path, "r+b"); }
#endif

}  // namespace

// The tool's main, which the process's entry (wmain on Windows) calls with the argument vector;
// named main in the tool's own namespace, so that its reports name main on every platform.
namespace quoxel {

int main(int argc, path_char* argv[]) {
    if (argc != 2) {
#ifdef _WIN32
        _setmode(_fileno(stderr), _O_BINARY);  // the same bytes as everywhere, no CR before LF
#endif
        static constexpr char usage[] = "usage: quoxel file.WAV\n";
        std::fwrite(usage, 1, sizeof usage - 1, stderr);
        return 1;
    }

    open_standard_descriptors();
#ifdef SIGXFSZ
    // Under a file size limit (ulimit -f) a write past it would end the process by this signal,
    // without a word and with the file part-converted; ignored, the write fails with EFBIG and is
    // reported like any other failed write.
    if (std::signal(SIGXFSZ, SIG_IGN) == SIG_ERR) report_call_error("signal");
#endif
    std::FILE* const stream = open_for_update(argv[1]);
    if (stream == nullptr) report_call_error("fopen");
    // Unbuffered, so that every block reaches the file through its own fwrite and a failed write
    // is reported there, not lost at exit nor surfacing at the next seek.
    if (std::setvbuf(stream, nullptr, _IONBF, 0) != 0) report_call_error("setvbuf");

    if (seek64(stream, 0, SEEK_END) != 0) report_call_error("fseek");
    std::int64_t const size = tell64(stream);
    if (size == -1) report_call_error("ftell");
    if (!size_is_exact(stream, size)) {
        errno = ESPIPE;  // the file has no end to seek to
        report_call_error("ftell");
    }

    // Below 4 bytes the count wraps to a huge number; the first read then finds end of file
    // (nothing follows the measured end) and reports it, leaving the file untouched.
    reverse_nibbles(stream, kept_bytes, static_cast<std::uint64_t>(size - kept_bytes));

    if (std::fclose(stream) != 0) report_call_error("fclose");
    return 0;
}

}  // namespace quoxel

#ifdef _WIN32
int wmain(int argc, wchar_t* argv[]) { return quoxel::main(argc, argv); }
#else
int main(int argc, char* argv[]) { return quoxel::main(argc, argv); }
#endif

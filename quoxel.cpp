// quoxel FILE: exchange the two 4-bit halves of every byte of FILE from offset 4 to its end,
// in place. The first four bytes are never read or written; running it twice restores the file.
#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>

#include <fcntl.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "util.hpp"

namespace {

constexpr long kept_bytes = 4;            // the leading bytes left as they are
constexpr std::size_t block_size = 2048;  // bytes moved per read and per write

// 0xAB -> 0xBA. The result fits in 8 bits by construction.
constexpr std::uint8_t swap_halves(std::uint8_t b) {
    return static_cast<std::uint8_t>((b & 0xF0U) >> 4 | (b & 0x0FU) << 4);
}
static_assert(swap_halves(0x12) == 0x21 && swap_halves(0xA5) == 0x5A);
static_assert(swap_halves(0x00) == 0x00 && swap_halves(0x77) == 0x77 && swap_halves(0xFF) == 0xFF);

// Converts `length` bytes from absolute `offset`, block by block: seek, read, convert, seek back,
// write. No position is taken over from the previous block.
void reverse_nibbles(std::FILE* stream, long offset, std::size_t length) {
    std::uint8_t buffer[block_size];
    while (length != 0) {
        std::size_t const n = std::min(length, block_size);
        if (std::fseek(stream, offset, SEEK_SET) != 0) report_call_error("fseek");
        if (std::fread(buffer, 1, n, stream) != n) report_transfer_error("fread", stream);
        for (std::uint8_t& b : std::span(buffer, n)) b = swap_halves(b);
        if (std::fseek(stream, offset, SEEK_SET) != 0) report_call_error("fseek");
        if (std::fwrite(buffer, 1, n, stream) != n) report_transfer_error("fwrite", stream);
        length -= n;
        offset += static_cast<long>(n);  // n <= block_size
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
// Where long has 32 bits (Windows), that of a file of 2 GiB or more wraps: it comes out negative,
// or as a small number short of the end. A device or pseudo file (/dev/zero, /proc/cpuinfo)
// reports a size of 0 or so and then gives data without end. Either would convert the wrong
// range, or never stop; one byte read at the reported end tells them from a plain file.
bool size_is_exact(std::FILE* stream, long size) {
    if (size < 0) return false;
    if (std::fseek(stream, size, SEEK_SET) != 0) report_call_error("fseek");
    std::uint8_t probe[1];
    return std::fread(probe, 1, sizeof probe, stream) == 0;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc != 2) {
#ifdef _WIN32
        _setmode(_fileno(stderr), _O_BINARY);  // the same bytes as everywhere, no CR before LF
#endif
        static constexpr char usage[] = "usage: quoxel file.WAV\n";
        std::fwrite(usage, 1, sizeof usage - 1, stderr);
        return 1;
    }

    open_standard_descriptors();
    std::FILE* const stream = std::fopen(argv[1], "r+b");
    if (stream == nullptr) report_call_error("fopen");
    // Unbuffered, so that every block reaches the file through its own fwrite and a failed write
    // is reported there, not lost at exit nor surfacing at the next seek.
    if (std::setvbuf(stream, nullptr, _IONBF, 0) != 0) report_call_error("setvbuf");

    if (std::fseek(stream, 0, SEEK_END) != 0) report_call_error("fseek");
    long const size = std::ftell(stream);
    if (size == -1) report_call_error("ftell");
    if (!size_is_exact(stream, size)) {
        // A narrow long cannot hold the size; elsewhere the file has no end to seek to.
        errno = sizeof(long) < sizeof(std::int64_t) ? EFBIG : ESPIPE;
        report_call_error("ftell");
    }

    // Below 4 bytes the count wraps to a huge number; the first read then finds end of file
    // (nothing follows the measured end) and reports it, leaving the file untouched.
    reverse_nibbles(stream, kept_bytes, static_cast<std::size_t>(size - kept_bytes));

    if (std::fclose(stream) != 0) report_call_error("fclose");
    return 0;
}

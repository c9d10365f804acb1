#include "util.hpp"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace util {

// Each report is one formatted write to the unbuffered standard error, so a line is never split
// by other output and never loses its end. On Windows standard error is first put in binary mode,
// so that a line ends in LF alone there too.

namespace {

void binary_stderr() {
#ifdef _WIN32
    _setmode(_fileno(stderr), _O_BINARY);
#endif
}

}  // namespace

void fail_call(const char* file, int line, const char* function, const char* call) {
    int const saved = errno;
    binary_stderr();
    std::fprintf(stderr, "%s:%d:%s:%s: %s\n", file, line, function, call, std::strerror(saved));
    std::exit(1);
}

void fail_transfer(const char* file, int line, const char* function, const char* call,
                   std::FILE* stream) {
    int const saved = errno;
    binary_stderr();
    if (std::feof(stream) != 0) {
        std::fprintf(stderr, "%s:%d:%s:%s: unexpected EOF\n", file, line, function, call);
    } else {
        std::fprintf(stderr, "%s:%d:%s:%s: %s: %s\n", file, line, function, call, call,
                     std::strerror(saved));
    }
    std::exit(1);
}

void fail_message(const char* file, int line, const char* function, const char* message) {
    binary_stderr();
    std::fprintf(stderr, "%s:%d:%s: %s\n", file, line, function, message);
    std::exit(1);
}

// Each reader and writer makes its own check, so that a report names the member that saw the
// short transfer and the line where it did.

std::uint8_t get_byte(std::FILE* stream) {
    std::uint8_t b[1];
    if (std::fread(b, 1, sizeof b, stream) != sizeof b) report_transfer_error("fread", stream);
    return b[0];
}

std::uint16_t get_16_be(std::FILE* stream) {
    std::uint8_t b[2];
    if (std::fread(b, 1, sizeof b, stream) != sizeof b) report_transfer_error("fread", stream);
    return read_16_be(b);
}

std::uint16_t get_16_le(std::FILE* stream) {
    std::uint8_t b[2];
    if (std::fread(b, 1, sizeof b, stream) != sizeof b) report_transfer_error("fread", stream);
    return read_16_le(b);
}

std::uint32_t get_32_be(std::FILE* stream) {
    std::uint8_t b[4];
    if (std::fread(b, 1, sizeof b, stream) != sizeof b) report_transfer_error("fread", stream);
    return read_32_be(b);
}

std::uint32_t get_32_le(std::FILE* stream) {
    std::uint8_t b[4];
    if (std::fread(b, 1, sizeof b, stream) != sizeof b) report_transfer_error("fread", stream);
    return read_32_le(b);
}

std::uint64_t get_64_be(std::FILE* stream) {
    std::uint8_t b[8];
    if (std::fread(b, 1, sizeof b, stream) != sizeof b) report_transfer_error("fread", stream);
    return read_64_be(b);
}

// An empty run makes no call at all, so that an empty buffer may be a null pointer.
void get_bytes(std::FILE* stream, void* buffer, std::size_t length) {
    if (length == 0) return;
    if (std::fread(buffer, 1, length, stream) != length) report_transfer_error("fread", stream);
}

std::uint8_t get_byte_seek(long offset, std::FILE* stream) {
    if (std::fseek(stream, offset, SEEK_SET) != 0) report_call_error("fseek");
    return get_byte(stream);
}

std::uint16_t get_16_be_seek(long offset, std::FILE* stream) {
    if (std::fseek(stream, offset, SEEK_SET) != 0) report_call_error("fseek");
    return get_16_be(stream);
}

std::uint16_t get_16_le_seek(long offset, std::FILE* stream) {
    if (std::fseek(stream, offset, SEEK_SET) != 0) report_call_error("fseek");
    return get_16_le(stream);
}

std::uint32_t get_32_be_seek(long offset, std::FILE* stream) {
    if (std::fseek(stream, offset, SEEK_SET) != 0) report_call_error("fseek");
    return get_32_be(stream);
}

std::uint32_t get_32_le_seek(long offset, std::FILE* stream) {
    if (std::fseek(stream, offset, SEEK_SET) != 0) report_call_error("fseek");
    return get_32_le(stream);
}

std::uint64_t get_64_be_seek(long offset, std::FILE* stream) {
    if (std::fseek(stream, offset, SEEK_SET) != 0) report_call_error("fseek");
    return get_64_be(stream);
}

void get_bytes_seek(long offset, std::FILE* stream, void* buffer, std::size_t length) {
    if (std::fseek(stream, offset, SEEK_SET) != 0) report_call_error("fseek");
    get_bytes(stream, buffer, length);
}

void put_byte(std::uint32_t value, std::FILE* stream) {
    std::uint8_t const b[1] = {static_cast<std::uint8_t>(value)};
    if (std::fwrite(b, 1, sizeof b, stream) != sizeof b) report_transfer_error("fwrite", stream);
}

void put_16_be(std::uint32_t value, std::FILE* stream) {
    std::uint8_t b[2];
    write_16_be(static_cast<std::uint16_t>(value), b);
    if (std::fwrite(b, 1, sizeof b, stream) != sizeof b) report_transfer_error("fwrite", stream);
}

void put_16_le(std::uint32_t value, std::FILE* stream) {
    std::uint8_t b[2];
    write_16_le(static_cast<std::uint16_t>(value), b);
    if (std::fwrite(b, 1, sizeof b, stream) != sizeof b) report_transfer_error("fwrite", stream);
}

void put_32_be(std::uint32_t value, std::FILE* stream) {
    std::uint8_t b[4];
    write_32_be(value, b);
    if (std::fwrite(b, 1, sizeof b, stream) != sizeof b) report_transfer_error("fwrite", stream);
}

void put_32_le(std::uint32_t value, std::FILE* stream) {
    std::uint8_t b[4];
    write_32_le(value, b);
    if (std::fwrite(b, 1, sizeof b, stream) != sizeof b) report_transfer_error("fwrite", stream);
}

void put_bytes(std::FILE* stream, const void* buffer, std::size_t length) {
    if (length == 0) return;
    if (std::fwrite(buffer, 1, length, stream) != length) report_transfer_error("fwrite", stream);
}

void put_byte_seek(std::uint32_t value, long offset, std::FILE* stream) {
    if (std::fseek(stream, offset, SEEK_SET) != 0) report_call_error("fseek");
    put_byte(value, stream);
}

void put_16_be_seek(std::uint32_t value, long offset, std::FILE* stream) {
    if (std::fseek(stream, offset, SEEK_SET) != 0) report_call_error("fseek");
    put_16_be(value, stream);
}

void put_16_le_seek(std::uint32_t value, long offset, std::FILE* stream) {
    if (std::fseek(stream, offset, SEEK_SET) != 0) report_call_error("fseek");
    put_16_le(value, stream);
}

void put_32_be_seek(std::uint32_t value, long offset, std::FILE* stream) {
    if (std::fseek(stream, offset, SEEK_SET) != 0) report_call_error("fseek");
    put_32_be(value, stream);
}

void put_32_le_seek(std::uint32_t value, long offset, std::FILE* stream) {
    if (std::fseek(stream, offset, SEEK_SET) != 0) report_call_error("fseek");
    put_32_le(value, stream);
}

void put_bytes_seek(long offset, std::FILE* stream, const void* buffer, std::size_t length) {
    if (std::fseek(stream, offset, SEEK_SET) != 0) report_call_error("fseek");
    put_bytes(stream, buffer, length);
}

void dump(std::FILE* in, std::FILE* out, long offset, std::size_t length) {
    std::uint8_t buffer[2048];
    if (std::fseek(in, offset, SEEK_SET) != 0) report_call_error("fseek");
    while (length != 0) {
        std::size_t const n = std::min(length, sizeof buffer);
        if (std::fread(buffer, 1, n, in) != n) report_transfer_error("fread", in);
        if (std::fwrite(buffer, 1, n, out) != n) report_transfer_error("fwrite", out);
        length -= n;
    }
}

long pad(long offset, long alignment, std::FILE* stream) {
    // Checked first: a zero alignment would divide by zero. The gap to the next multiple is
    // computed from the remainder, so that no step can overflow and an offset that is a multiple
    // already is accepted however close it stands to LONG_MAX.
    if (alignment < 1) report_error_message("bad alignment");
    if (offset < 0) report_error_message("bad offset");
    long const remainder = offset % alignment;
    if (remainder == 0) return offset;
    long const gap = alignment - remainder;
    if (offset > LONG_MAX - gap) report_error_message("bad offset");
    long const end = offset + gap;
    for (long p = offset; p < end; ++p) put_byte_seek(0, p, stream);
    return end;
}

// The count of a width of INT_MIN does not fit the int that fprintf returns; the C library would
// write nothing and claim success, so it is refused as fprintf refuses any count beyond INT_MAX.
int fprintf_indent(std::FILE* stream, int width) {
    if (width == INT_MIN) {
        errno = EOVERFLOW;
        return -1;
    }
    return std::fprintf(stream, "%*s", width, "");
}

long read_long(const char* text) {
    char* stop = nullptr;
    errno = 0;
    long const value = std::strtol(text, &stop, 0);
    if (errno != 0) report_call_error("strtol");
    if (*stop != '\0') report_error_message("bad number format");
    return value;
}

}  // namespace util

// util: fail-stop support for quoxel.
//
// Every operation here either does all of its work or ends the process: it writes one line on
// standard error saying which source file, line and function saw which library call fail, and
// exits with status 1. Nothing returns an error code and no caller tests one. Streams and buffers
// belong to the caller; no operation opens, closes or allocates anything.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace util {

// ---- Failure reports. The tool uses this section and nothing else of the library. ----

// The last path component of `path`, after either separator, so that the report names the same
// file whatever directory or separator the compiler put into __FILE__.
consteval const char* base_name(const char* path) {
    const char* name = path;
    for (const char* p = path; *p != '\0'; ++p) {
        if (*p == '/' || *p == '\\') name = p + 1;
    }
    return name;
}

// The three report forms. They are macros so that file, line and function are those of the
// check that expands them, never of the report's own code. Each writes one line on standard
// error and exits with status 1.

// After a call that failed through its result and left the reason in errno (fopen, fseek, ...).
#define report_call_error(call) \
    ::util::fail_call(::util::base_name(__FILE__), __LINE__, __func__, (call))

// After fread or fwrite moved fewer bytes than asked; `stream` is the stream of that transfer.
#define report_transfer_error(call, stream) \
    ::util::fail_transfer(::util::base_name(__FILE__), __LINE__, __func__, (call), (stream))

// After a value was rejected by the program's own test, with no system error behind it.
#define report_error_message(message) \
    ::util::fail_message(::util::base_name(__FILE__), __LINE__, __func__, (message))

// The functions behind the macros, which pass them the location of the failed check. fail_call
// and fail_transfer save the error number before they write anything, so that the text printed
// is that of the failed call; fail_message prints no system text and saves nothing.

// "file:line:function:call: <system text>\n"
[[noreturn]] void fail_call(const char* file, int line, const char* function, const char* call);

// "file:line:function:call: unexpected EOF\n" when `stream` is at end of file,
// else "file:line:function:call: call: <system text>\n".
[[noreturn]] void fail_transfer(const char* file, int line, const char* function, const char* call,
                                std::FILE* stream);

// "file:line:function: message\n"
[[noreturn]] void fail_message(const char* file, int line, const char* function,
                               const char* message);

// ---- The library ----

// Byte-order codecs: pure functions between bytes in memory and unsigned integers. "le" puts the
// least significant byte first, "be" the most significant. A reader reads exactly its width from
// `p`, a writer writes exactly its width to `p`; the caller provides the room. They cannot fail.

[[nodiscard]] constexpr std::uint16_t read_16_le(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[1] << 8 |
                                      p[0]);
}
[[nodiscard]] constexpr std::uint16_t read_16_be(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] << 8 |
                                      p[1]);
}
[[nodiscard]] constexpr std::uint32_t read_32_le(const std::uint8_t* p) {
    return std::uint32_t{p[3]} << 24 |
           std::uint32_t{p[2]} << 16 |
           std::uint32_t{p[1]} << 8 |
           std::uint32_t{p[0]};
}
[[nodiscard]] constexpr std::uint32_t read_32_be(const std::uint8_t* p) {
    return std::uint32_t{p[0]} << 24 |
           std::uint32_t{p[1]} << 16 |
           std::uint32_t{p[2]} << 8 |
           std::uint32_t{p[3]};
}
[[nodiscard]] constexpr std::uint64_t read_64_be(const std::uint8_t* p) {
    return std::uint64_t{p[0]} << 56 |
           std::uint64_t{p[1]} << 48 |
           std::uint64_t{p[2]} << 40 |
           std::uint64_t{p[3]} << 32 |
           std::uint64_t{p[4]} << 24 |
           std::uint64_t{p[5]} << 16 |
           std::uint64_t{p[6]} << 8 |
           std::uint64_t{p[7]};
}

// Each cast keeps the low byte of the shifted value, which is the point.
constexpr void write_16_le(std::uint16_t value, std::uint8_t* p) {
    p[0] = static_cast<std::uint8_t>(value);
    p[1] = static_cast<std::uint8_t>(value >> 8);
}
constexpr void write_16_be(std::uint16_t value, std::uint8_t* p) {
    p[0] = static_cast<std::uint8_t>(value >> 8);
    p[1] = static_cast<std::uint8_t>(value);
}
constexpr void write_32_le(std::uint32_t value, std::uint8_t* p) {
    p[0] = static_cast<std::uint8_t>(value);
    p[1] = static_cast<std::uint8_t>(value >> 8);
    p[2] = static_cast<std::uint8_t>(value >> 16);
    p[3] = static_cast<std::uint8_t>(value >> 24);
}
constexpr void write_32_be(std::uint32_t value, std::uint8_t* p) {
    p[0] = static_cast<std::uint8_t>(value >> 24);
    p[1] = static_cast<std::uint8_t>(value >> 16);
    p[2] = static_cast<std::uint8_t>(value >> 8);
    p[3] = static_cast<std::uint8_t>(value);
}

// Strict stream reads: each reads exactly its width (or `length` bytes) at the stream's current
// position, or at absolute `offset` for the _seek variants. A short read is reported by the plain
// reader as a "fread" failure ("unexpected EOF" at end of file); a failed seek is reported by the
// _seek variant as a "fseek" failure. Bytes consumed by a short read are lost. An empty run
// (length 0) moves nothing and succeeds; its buffer may then be null.

std::uint8_t get_byte(std::FILE* stream);
std::uint16_t get_16_be(std::FILE* stream);
std::uint16_t get_16_le(std::FILE* stream);
std::uint32_t get_32_be(std::FILE* stream);
std::uint32_t get_32_le(std::FILE* stream);
std::uint64_t get_64_be(std::FILE* stream);
void get_bytes(std::FILE* stream, void* buffer, std::size_t length);

std::uint8_t get_byte_seek(long offset, std::FILE* stream);
std::uint16_t get_16_be_seek(long offset, std::FILE* stream);
std::uint16_t get_16_le_seek(long offset, std::FILE* stream);
std::uint32_t get_32_be_seek(long offset, std::FILE* stream);
std::uint32_t get_32_le_seek(long offset, std::FILE* stream);
std::uint64_t get_64_be_seek(long offset, std::FILE* stream);
void get_bytes_seek(long offset, std::FILE* stream, void* buffer, std::size_t length);

// Strict stream writes: each writes the low 8, 16 or 32 bits of `value` (or `length` bytes) at
// the current position, or at absolute `offset` for the _seek variants. A short write is reported
// by the plain writer as a "fwrite" failure, a failed seek by the _seek variant as "fseek". A
// write counts as done once the stream accepts it: on a buffered stream a later failure shows
// only at fflush or fclose, which the stream's owner checks.

void put_byte(std::uint32_t value, std::FILE* stream);
void put_16_be(std::uint32_t value, std::FILE* stream);
void put_16_le(std::uint32_t value, std::FILE* stream);
void put_32_be(std::uint32_t value, std::FILE* stream);
void put_32_le(std::uint32_t value, std::FILE* stream);
void put_bytes(std::FILE* stream, const void* buffer, std::size_t length);

void put_byte_seek(std::uint32_t value, long offset, std::FILE* stream);
void put_16_be_seek(std::uint32_t value, long offset, std::FILE* stream);
void put_16_le_seek(std::uint32_t value, long offset, std::FILE* stream);
void put_32_be_seek(std::uint32_t value, long offset, std::FILE* stream);
void put_32_le_seek(std::uint32_t value, long offset, std::FILE* stream);
void put_bytes_seek(long offset, std::FILE* stream, const void* buffer, std::size_t length);

// Stream utilities.

// Copies `length` bytes from absolute `offset` of `in` to the current position of `out`, in
// 2048-byte blocks. Seeks `in` once and never seeks `out`. Reports a failed seek ("fseek"), a
// short read of `in` ("fread") and a short write to `out` ("fwrite").
void dump(std::FILE* in, std::FILE* out, long offset, std::size_t length);

// Writes a zero byte at every position from `offset` up to the next multiple of `alignment`,
// each by its own absolute seek and one-byte write, and returns that multiple (`offset` itself
// when it is one). Failures are those of put_byte_seek and put_byte. An alignment below 1 is
// reported as "bad alignment"; a negative offset, or one whose next multiple would pass LONG_MAX,
// as "bad offset".
long pad(long offset, long alignment, std::FILE* stream);

// Writes `width` spaces (the magnitude of `width` when it is negative) and returns what fprintf
// returns, negative when the write failed; nothing is reported. INT_MIN, whose magnitude no int
// holds, writes nothing and returns -1 with errno EOVERFLOW.
[[nodiscard]] int fprintf_indent(std::FILE* stream, int width);

// The number that the whole of `text` spells, in C notation: optional leading white space and
// sign, then decimal, octal after a leading 0, or hexadecimal after 0x. A number beyond the range
// of long is reported as a "strtol" failure; anything left after the number as "bad number
// format". The empty text gives 0.
long read_long(const char* text);

}  // namespace util

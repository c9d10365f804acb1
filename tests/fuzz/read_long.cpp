// Fuzz target: util::read_long on any text, against a parser of C notation written apart from it.
// read_long ends the process on a text it refuses, by design; here the exit of util.cpp is
// wrapped when the target is linked (-Wl,--wrap=exit), and while read_long runs an exit comes
// back as an exception that carries its status. So every text is read in the fuzzer's own
// process: one that the parser takes must give the parser's number, and one that it refuses must
// end with status 1 and the one line of the refusal that the parser expects, which a pipe in the
// place of standard error catches. A child process for each refusal would check the same, at a
// fork's cost of milliseconds under the sanitizers for each input.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "fuzz.hpp"
#include "util.hpp"

// The C library's exit, and the one that util.cpp calls instead: this target's.
extern "C" [[noreturn]] void __real_exit(int status);
extern "C" [[noreturn]] void __wrap_exit(int status);

namespace {

// What read_long must make of a text: its number, or the refusal ("strtol" for a number beyond
// long, "bad number format" for anything left after the number).
struct Reading {
    long number = 0;
    const char* refusal = nullptr;
};

// C notation as strtol reads it in the C locale with base 0: white space, a sign, then "0x" or
// "0X" and hexadecimal digits, "0" and octal digits, or decimal digits. Where no digit follows,
// nothing is read, not even the white space; "0x" without a hexadecimal digit is the number 0
// with "x" left over.
Reading parsed(std::string_view text) {
    std::size_t i = text.find_first_not_of(" \t\n\v\f\r");
    if (i == std::string_view::npos) i = text.size();
    bool const negative = i < text.size() && text[i] == '-';
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    unsigned base = 10;
    const auto digit = [&](std::size_t at) -> unsigned {
        if (at >= text.size()) return 99;
        char const c = text[at];
        unsigned const value = c >= '0' && c <= '9' ? static_cast<unsigned>(c - '0')
                               : c >= 'a' && c <= 'z' ? static_cast<unsigned>(c - 'a' + 10)
                               : c >= 'A' && c <= 'Z' ? static_cast<unsigned>(c - 'A' + 10)
                                                      : 99;
        return value < base ? value : 99;
    };
    if (i < text.size() && text[i] == '0') {
        base = 16;  // "0x" counts only before a hexadecimal digit
        bool const hexadecimal =
            i + 1 < text.size() && (text[i + 1] == 'x' || text[i + 1] == 'X') && digit(i + 2) != 99;
        base = hexadecimal ? 16 : 8;
        if (hexadecimal) i += 2;
    }
    if (digit(i) == 99) return {0, text.empty() ? nullptr : "bad number format"};
    // The magnitude, up to one past LONG_MAX for LONG_MIN; past that it is out of range.
    std::uint64_t const most = negative ? std::uint64_t{LONG_MAX} + 1 : LONG_MAX;
    std::uint64_t magnitude = 0;
    bool beyond = false;
    for (; digit(i) != 99; ++i) {
        beyond = beyond || magnitude > (most - digit(i)) / base;
        if (!beyond) magnitude = magnitude * base + digit(i);
    }
    if (beyond) return {0, "strtol"};
    if (i != text.size()) return {0, "bad number format"};
    if (!negative) return {static_cast<long>(magnitude)};
    return {magnitude == std::uint64_t{LONG_MAX} + 1 ? LONG_MIN : -static_cast<long>(magnitude)};
}

// An exit while read_long runs, with its status.
struct Exited {
    int status;
};
bool reading = false;

// read_long of `text`, which must refuse it: the status of its exit, and the report line it wrote.
std::pair<int, std::string> refused_by_read_long(const char* text) {
    struct Pipe {
        int read_end, write_end;
    };
    static Pipe const line = [] {
        int ends[2];
        holds(::pipe2(ends, O_CLOEXEC | O_NONBLOCK) == 0);
        return Pipe{ends[0], ends[1]};
    }();
    int const standard_error = ::dup(STDERR_FILENO);
    ::dup2(line.write_end, STDERR_FILENO);
    int status = -1;
    reading = true;
    try {
        util::read_long(text);
    } catch (const Exited& exited) {
        status = exited.status;
    }
    reading = false;
    ::dup2(standard_error, STDERR_FILENO);
    ::close(standard_error);
    std::string report;
    char buffer[256];
    for (ssize_t got = 0; (got = ::read(line.read_end, buffer, sizeof buffer)) > 0;) {
        report.append(buffer, static_cast<std::size_t>(got));
    }
    return {status, report};
}

}  // namespace

extern "C" void __wrap_exit(int status) {
    if (reading) throw Exited{status};
    __real_exit(status);
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string const text(reinterpret_cast<const char*>(data), size);
    std::string_view const read = text.c_str();  // up to the first NUL, as read_long sees it
    Reading const expected = parsed(read);
    if (expected.refusal == nullptr) {
        holds(util::read_long(text.c_str()) == expected.number);
        return 0;
    }
    auto const [status, report] = refused_by_read_long(text.c_str());
    // "util.cpp:LINE:read_long:strtol: <system text>\n" or "util.cpp:LINE:read_long: bad number format\n"
    std::string const line_end = std::strcmp(expected.refusal, "strtol") == 0
                                     ? ":read_long:strtol: " + std::string(std::strerror(ERANGE)) + "\n"
                                     : ":read_long: bad number format\n";
    holds(status == 1 && report.starts_with("util.cpp:") && report.ends_with(line_end) &&
          report.find('\n') == report.size() - 1);
    return 0;
}

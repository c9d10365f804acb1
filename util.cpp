#include "util.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace util {

// Each report is one formatted write to the unbuffered standard error, so a line is never split
// by other output and never loses its end.

void fail_call(const char* file, int line, const char* function, const char* call) {
    int const saved = errno;
    std::fprintf(stderr, "%s:%d:%s:%s: %s\n", file, line, function, call, std::strerror(saved));
    std::exit(1);
}

void fail_transfer(const char* file, int line, const char* function, const char* call,
                   std::FILE* stream) {
    int const saved = errno;
    if (std::feof(stream) != 0) {
        std::fprintf(stderr, "%s:%d:%s:%s: unexpected EOF\n", file, line, function, call);
    } else {
        std::fprintf(stderr, "%s:%d:%s:%s: %s: %s\n", file, line, function, call, call,
                     std::strerror(saved));
    }
    std::exit(1);
}

void fail_message(const char* file, int line, const char* function, const char* message) {
    std::fprintf(stderr, "%s:%d:%s: %s\n", file, line, function, message);
    std::exit(1);
}

}  // namespace util

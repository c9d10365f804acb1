// util: fail-stop support for quoxel.
//
// Every operation here either does all of its work or ends the process: it writes one line on
// standard error saying which source file, line and function saw which library call fail, and
// exits with status 1. Nothing returns an error code and no caller tests one.
#pragma once

#include <cstdio>

namespace util {

// The last path component of `path`, after either separator, so that the report names the same
// file whatever directory or separator the compiler put into __FILE__.
consteval const char* base_name(const char* path) {
    const char* name = path;
    for (const char* p = path; *p != '\0'; ++p) {
        if (*p == '/' || *p == '\\') name = p + 1;
    }
    return name;
}

// The reports behind the macros below. Each takes the location of the failed check; each saves
// the error number before it writes anything, so the text printed is that of the failed call.

// "file:line:function:call: <system text>\n"
[[noreturn]] void fail_call(const char* file, int line, const char* function, const char* call);

// "file:line:function:call: unexpected EOF\n" when `stream` is at end of file,
// else "file:line:function:call: call: <system text>\n".
[[noreturn]] void fail_transfer(const char* file, int line, const char* function, const char* call,
                                std::FILE* stream);

// "file:line:function: message\n"
[[noreturn]] void fail_message(const char* file, int line, const char* function,
                               const char* message);

}  // namespace util

// The three report forms. They are macros so that file, line and function are those of the
// check that expands them, never of the report's own code.

// After a call that failed through its result and left the reason in errno (fopen, fseek, ...).
#define report_call_error(call) \
    ::util::fail_call(::util::base_name(__FILE__), __LINE__, __func__, (call))

// After fread or fwrite moved fewer bytes than asked; `stream` is the stream of that transfer.
#define report_transfer_error(call, stream) \
    ::util::fail_transfer(::util::base_name(__FILE__), __LINE__, __func__, (call), (stream))

// After a value was rejected by the program's own test, with no system error behind it.
#define report_error_message(message) \
    ::util::fail_message(::util::base_name(__FILE__), __LINE__, __func__, (message))

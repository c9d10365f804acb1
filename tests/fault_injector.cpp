// A fault injector for the end-to-end tests on Linux, preloaded into the tool (LD_PRELOAD): it
// makes the Nth call of one C library function fail, so that every failure report of the tool
// can be reached, also those that no file brings about. QUOXEL_FAIL names the fault:
//
//   CALL:N:ERROR   the Nth call of CALL (counted from 1) fails with errno ERROR (EIO, ENOSPC, ...)
//   CALL:N+:ERROR  so does every call after it; with EINTR, every other call from the Nth, so
//                  that each call is interrupted once and its retry goes through
//   fread:N:short  just before the Nth fread the file is cut to half the bytes it asks for, so
//                  the read returns fewer at the end of the file, as when another program
//                  shortens the file during the conversion
//   CALL:N:pause   just before the Nth call of CALL, the file that QUOXEL_PAUSE names is made,
//                  holding the process's id,
//                  and the call waits until that file is removed, then goes through: a test acts
//                  at a known point of a run, whatever the machine's load
//
// CALL is open, fcntl, signal, fopen, setvbuf, fseeko, ftello, fread, fwrite or fclose, the calls
// of the tool; or openat, read, write, close, mkdirat, flock, renameat2, renameat, linkat,
// unlinkat, fdatasync, fsync, syncfs or fstat, the calls that the drop program makes on files in
// the folders it holds (and mkdir, link, rename). The names that 64-bit file offsets give some of them
// (fopen64, fseeko64, openat64, ...) and the fortified __fread_chk, __open_2 and __openat_2 count
// as the plain name, and so do __fxstat and __fxstat64 as fstat. A failing
// call does nothing and returns the function's failure value, except fclose and close, which close first,
// as a failed close does. Every other call goes to the C library unchanged. Calls are counted
// across threads. When QUOXEL_FAIL_CALLS names a file, the number of calls of CALL that the
// process made is written there as it exits, so that a test can fail each of them in turn. It is
// never installed or packaged. When QUOXEL_FAIL_FDS names a file, the number of descriptors open
// as the process exits is written there.
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <sys/file.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

// The one fault of this process, read from the environment when the library is loaded.
struct Fault {
    char call[16];
    unsigned long nth;  // 0: no fault
    bool and_after;     // every call from the nth fails
    int error;
    bool short_read;
    bool pause;
    std::atomic<unsigned long> seen;  // calls of `call` so far
};
Fault fault;

constexpr const char* calls[] = {"open",    "fcntl",     "signal",   "fopen",  "setvbuf",   "fseeko", "ftello",
                                 "fread",   "fwrite",    "fclose",   "read",   "write",     "close",  "mkdir",
                                 "flock",   "renameat2", "link",     "rename", "openat",    "mkdirat", "renameat",
                                 "linkat",  "unlinkat",  "fdatasync", "fsync", "syncfs",   "fstat"};

// The errno values a test may ask for, by name.
struct ErrorName {
    const char* name;
    int value;
};
constexpr ErrorName error_names[] = {
    {"EACCES", EACCES}, {"EBADF", EBADF},   {"EDQUOT", EDQUOT}, {"EFBIG", EFBIG},   {"EINVAL", EINVAL},
    {"EIO", EIO},       {"EMFILE", EMFILE}, {"ENOMEM", ENOMEM}, {"ENOSPC", ENOSPC}, {"EOVERFLOW", EOVERFLOW},
    {"EPERM", EPERM},   {"ENOLCK", ENOLCK}, {"EINTR", EINTR},
};

// A fault that cannot be read stops the process at once: a test that asks for one must never
// pass because nothing failed.
[[noreturn]] void bad_fault(const char* setting) {
    std::fprintf(stderr, "fault_injector: QUOXEL_FAIL=%s is not CALL:N:ERROR\n", setting);
    std::_Exit(125);
}

__attribute__((constructor)) void read_fault() {
    const char* setting = std::getenv("QUOXEL_FAIL");
    if (setting == nullptr || *setting == '\0') return;
    const char* colon = std::strchr(setting, ':');
    if (colon == nullptr || static_cast<std::size_t>(colon - setting) >= sizeof fault.call) bad_fault(setting);
    std::memcpy(fault.call, setting, static_cast<std::size_t>(colon - setting));
    bool known = false;
    for (const char* call : calls) known = known || std::strcmp(fault.call, call) == 0;
    if (!known) bad_fault(setting);
    char* end = nullptr;
    fault.nth = std::strtoul(colon + 1, &end, 10);
    fault.and_after = *end == '+';
    if (fault.and_after) ++end;
    if (fault.nth == 0 || *end != ':') bad_fault(setting);
    const char* error = end + 1;
    fault.short_read = std::strcmp(fault.call, "fread") == 0 && std::strcmp(error, "short") == 0;
    fault.pause = std::strcmp(error, "pause") == 0;
    if (fault.pause && std::getenv("QUOXEL_PAUSE") == nullptr) bad_fault(setting);
    for (const ErrorName& e : error_names) {
        if (std::strcmp(error, e.name) == 0) fault.error = e.value;
    }
    if (fault.error == 0 && !fault.short_read && !fault.pause) bad_fault(setting);
}

// The C library's definition of `name`, which the wrapper of the same name stands in front of.
template <class Function>
Function* next(const char* name) {
    return reinterpret_cast<Function*>(dlsym(RTLD_NEXT, name));
}

// The pause of a `pause` fault: the file QUOXEL_PAUSE is made, with the process's id in it, then
// waited for until a test removes it. Only the file's existence is looked at, so the wait ends
// however long it took.
void pause_here() {
    const char* const file = std::getenv("QUOXEL_PAUSE");
    int const fd = next<int(const char*, int, ...)>("open")(file, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        std::perror("fault_injector: cannot make QUOXEL_PAUSE");
        std::_Exit(125);
    }
    char id[24];
    int const length = std::snprintf(id, sizeof id, "%ld\n", static_cast<long>(getpid()));
    next<ssize_t(int, const void*, size_t)>("write")(fd, id, static_cast<size_t>(length));
    next<int(int)>("close")(fd);
    struct stat status;
    timespec const moment = {0, 10000000};
    while (::stat(file, &status) == 0) nanosleep(&moment, nullptr);
}

// True when this is the call of `call` that must fail; errno is then set to the fault's error.
bool fails(const char* call) {
    if (fault.nth == 0 || std::strcmp(call, fault.call) != 0) return false;
    unsigned long const seen = ++fault.seen;
    if (seen != fault.nth && !(fault.and_after && seen > fault.nth)) return false;
    if (fault.pause) {
        pause_here();
        return false;
    }
    if (fault.error == EINTR && (seen - fault.nth) % 2 == 1) return false;
    errno = fault.error;
    return true;
}

// The number of descriptors still open as the process exits, for QUOXEL_FAIL_FDS: a test of a
// descriptor that a program leaks.
__attribute__((destructor)) void write_descriptors() {
    const char* const file = std::getenv("QUOXEL_FAIL_FDS");
    if (file == nullptr) return;
    int open_now = 0;
    for (int fd = 0; fd < 1024; ++fd) open_now += fcntl(fd, F_GETFD) != -1;
    if (FILE* const out = std::fopen(file, "w")) {
        std::fprintf(out, "%d\n", open_now);
        std::fclose(out);
    }
}

// The number of calls of the fault's call, for QUOXEL_FAIL_CALLS.
__attribute__((destructor)) void write_calls() {
    const char* const file = std::getenv("QUOXEL_FAIL_CALLS");
    if (file == nullptr || fault.nth == 0) return;
    if (FILE* const out = std::fopen(file, "w")) {
        std::fprintf(out, "%lu\n", fault.seen.load());
        std::fclose(out);
    }
}

// open or open64, as `name` says, passing on the mode only when the flags say that one follows.
int open_as(const char* name, const char* path, int flags, va_list arguments) {
    bool const creates = (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE;
    auto const mode = creates ? static_cast<mode_t>(va_arg(arguments, unsigned)) : mode_t{0};
    return fails("open") ? -1 : next<int(const char*, int, ...)>(name)(path, flags, mode);
}

// openat or openat64, as `name` says, passing on the mode only when the flags say that one follows.
int openat_as(const char* name, int folder, const char* path, int flags, va_list arguments) {
    bool const creates = (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE;
    auto const mode = creates ? static_cast<mode_t>(va_arg(arguments, unsigned)) : mode_t{0};
    return fails("openat") ? -1 : next<int(int, const char*, int, ...)>(name)(folder, path, flags, mode);
}

// fcntl or fcntl64, as `name` says. The third argument is passed on whatever the command: an int
// or a pointer, or nothing that the command reads.
int fcntl_as(const char* name, int fd, int command, va_list arguments) {
    void* const argument = va_arg(arguments, void*);
    return fails("fcntl") ? -1 : next<int(int, int, ...)>(name)(fd, command, argument);
}

// A read that fails moves nothing; a short one first cuts the file to half of what it asks for.
bool read_fails(FILE* stream, size_t size, size_t count) {
    if (!fails("fread")) return false;
    if (!fault.short_read) return true;
    off64_t const at = next<off64_t(FILE*)>("ftello64")(stream);
    if (at < 0 || ftruncate64(fileno(stream), at + static_cast<off64_t>(size * count / 2)) != 0) {
        std::perror("fault_injector: cannot shorten the file");
        std::_Exit(125);
    }
    return false;
}

}  // namespace

extern "C" {

int open(const char* path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    int const fd = open_as("open", path, flags, arguments);
    va_end(arguments);
    return fd;
}
int open64(const char* path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    int const fd = open_as("open64", path, flags, arguments);
    va_end(arguments);
    return fd;
}

// The fortified open of an optimised build, for flags that need no mode.
int __open_2(const char* path, int flags) {
    return fails("open") ? -1 : next<int(const char*, int)>("__open_2")(path, flags);
}
int __open64_2(const char* path, int flags) {
    return fails("open") ? -1 : next<int(const char*, int)>("__open64_2")(path, flags);
}

int openat(int folder, const char* path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    int const fd = openat_as("openat", folder, path, flags, arguments);
    va_end(arguments);
    return fd;
}
int openat64(int folder, const char* path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    int const fd = openat_as("openat64", folder, path, flags, arguments);
    va_end(arguments);
    return fd;
}
int __openat_2(int folder, const char* path, int flags) {
    return fails("openat") ? -1 : next<int(int, const char*, int)>("__openat_2")(folder, path, flags);
}
int __openat64_2(int folder, const char* path, int flags) {
    return fails("openat") ? -1 : next<int(int, const char*, int)>("__openat64_2")(folder, path, flags);
}

int fcntl(int fd, int command, ...) {
    va_list arguments;
    va_start(arguments, command);
    int const result = fcntl_as("fcntl", fd, command, arguments);
    va_end(arguments);
    return result;
}
int fcntl64(int fd, int command, ...) {
    va_list arguments;
    va_start(arguments, command);
    int const result = fcntl_as("fcntl64", fd, command, arguments);
    va_end(arguments);
    return result;
}

sighandler_t signal(int number, sighandler_t handler) noexcept {
    return fails("signal") ? SIG_ERR : next<sighandler_t(int, sighandler_t)>("signal")(number, handler);
}

FILE* fopen(const char* path, const char* mode) {
    return fails("fopen") ? nullptr : next<FILE*(const char*, const char*)>("fopen")(path, mode);
}
FILE* fopen64(const char* path, const char* mode) {
    return fails("fopen") ? nullptr : next<FILE*(const char*, const char*)>("fopen64")(path, mode);
}

int setvbuf(FILE* stream, char* buffer, int mode, size_t size) noexcept {
    return fails("setvbuf") ? EOF : next<int(FILE*, char*, int, size_t)>("setvbuf")(stream, buffer, mode, size);
}

int fseeko(FILE* stream, off_t offset, int origin) {
    return fails("fseeko") ? -1 : next<int(FILE*, off_t, int)>("fseeko")(stream, offset, origin);
}
int fseeko64(FILE* stream, off64_t offset, int origin) {
    return fails("fseeko") ? -1 : next<int(FILE*, off64_t, int)>("fseeko64")(stream, offset, origin);
}

off_t ftello(FILE* stream) { return fails("ftello") ? -1 : next<off_t(FILE*)>("ftello")(stream); }
off64_t ftello64(FILE* stream) { return fails("ftello") ? -1 : next<off64_t(FILE*)>("ftello64")(stream); }

size_t fread(void* buffer, size_t size, size_t count, FILE* stream) {
    return read_fails(stream, size, count)
               ? 0
               : next<size_t(void*, size_t, size_t, FILE*)>("fread")(buffer, size, count, stream);
}
size_t __fread_chk(void* buffer, size_t room, size_t size, size_t count, FILE* stream) {
    return read_fails(stream, size, count)
               ? 0
               : next<size_t(void*, size_t, size_t, size_t, FILE*)>("__fread_chk")(buffer, room, size, count, stream);
}

size_t fwrite(const void* buffer, size_t size, size_t count, FILE* stream) {
    return fails("fwrite") ? 0
                           : next<size_t(const void*, size_t, size_t, FILE*)>("fwrite")(buffer, size, count, stream);
}

int fclose(FILE* stream) {
    bool const fail = fails("fclose");
    int const error = errno;
    int const closed = next<int(FILE*)>("fclose")(stream);
    if (!fail) return closed;
    errno = error;
    return EOF;
}

ssize_t read(int fd, void* buffer, size_t size) {
    return fails("read") ? -1 : next<ssize_t(int, void*, size_t)>("read")(fd, buffer, size);
}
ssize_t write(int fd, const void* buffer, size_t size) {
    return fails("write") ? -1 : next<ssize_t(int, const void*, size_t)>("write")(fd, buffer, size);
}
int close(int fd) {
    bool const fail = fails("close");
    int const error = errno;
    int const closed = next<int(int)>("close")(fd);
    if (!fail) return closed;
    errno = error;
    return -1;
}
int mkdir(const char* path, mode_t mode) {
    return fails("mkdir") ? -1 : next<int(const char*, mode_t)>("mkdir")(path, mode);
}
int flock(int fd, int operation) noexcept {
    return fails("flock") ? -1 : next<int(int, int)>("flock")(fd, operation);
}
int renameat2(int from_folder, const char* from, int to_folder, const char* to, unsigned flags) noexcept {
    using Renameat2 = int(int, const char*, int, const char*, unsigned);
    return fails("renameat2") ? -1 : next<Renameat2>("renameat2")(from_folder, from, to_folder, to, flags);
}
int link(const char* from, const char* to) noexcept {
    return fails("link") ? -1 : next<int(const char*, const char*)>("link")(from, to);
}
int rename(const char* from, const char* to) noexcept {
    return fails("rename") ? -1 : next<int(const char*, const char*)>("rename")(from, to);
}
int mkdirat(int folder, const char* path, mode_t mode) noexcept {
    return fails("mkdirat") ? -1 : next<int(int, const char*, mode_t)>("mkdirat")(folder, path, mode);
}
int renameat(int from_folder, const char* from, int to_folder, const char* to) noexcept {
    return fails("renameat") ? -1 : next<int(int, const char*, int, const char*)>("renameat")(from_folder, from, to_folder, to);
}
int linkat(int from_folder, const char* from, int to_folder, const char* to, int flags) noexcept {
    using Linkat = int(int, const char*, int, const char*, int);
    return fails("linkat") ? -1 : next<Linkat>("linkat")(from_folder, from, to_folder, to, flags);
}
int unlinkat(int folder, const char* path, int flags) noexcept {
    return fails("unlinkat") ? -1 : next<int(int, const char*, int)>("unlinkat")(folder, path, flags);
}
int fdatasync(int fd) { return fails("fdatasync") ? -1 : next<int(int)>("fdatasync")(fd); }
int fsync(int fd) { return fails("fsync") ? -1 : next<int(int)>("fsync")(fd); }
int syncfs(int fd) noexcept { return fails("syncfs") ? -1 : next<int(int)>("syncfs")(fd); }
int fstat(int fd, struct stat* status) noexcept {
    return fails("fstat") ? -1 : next<int(int, struct stat*)>("fstat")(fd, status);
}
int fstat64(int fd, struct stat64* status) noexcept {
    return fails("fstat") ? -1 : next<int(int, struct stat64*)>("fstat64")(fd, status);
}
// glibc's older entry points of fstat, which ThreadSanitizer's own fstat calls.
int __fxstat(int version, int fd, struct stat* status) {
    return fails("fstat") ? -1 : next<int(int, int, struct stat*)>("__fxstat")(version, fd, status);
}
int __fxstat64(int version, int fd, struct stat64* status) {
    return fails("fstat") ? -1 : next<int(int, int, struct stat64*)>("__fxstat64")(version, fd, status);
}

}  // extern "C"

#include "files_posix.hpp"

#include <fcntl.h>
#include <stdio.h>  // renameat2
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <string>

#include "paths.hpp"

namespace drop {

namespace {

int descriptor(Files::Handle file) { return static_cast<int>(file); }

// Whether `error` says that a file system has no such call or flag: then the next way is tried.
bool unsupported(int error) { return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP || error == EPERM; }

// A rename that never replaces, for a file system that takes neither RENAME_NOREPLACE nor a second
// link (exFAT through FUSE, for one): the check and the rename are made under an exclusive lock on
// the folder of `to`, which every drop takes for this, so no two drops, nor two threads, can both
// find the name free. Only a program that is no drop could still take the name in between.
int rename_under_lock(const char* from, const char* to) {
    std::string const folder(parent(std::string_view(to)));
    int const lock = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (lock < 0) return errno;
    int error = 0;
    struct stat taken;
    while (::flock(lock, LOCK_EX) != 0 && errno == EINTR) {
    }
    if (::lstat(to, &taken) == 0) error = EEXIST;
    else if (errno != ENOENT) error = errno;
    else if (::rename(from, to) != 0) error = errno;
    ::close(lock);  // and with it the lock
    return error;
}

struct PosixFiles final : Files {
    // O_NONBLOCK: opening a FIFO for reading would wait for a writer.
    Error open(const Path& source, Handle& file) override {
        int const fd = ::open(source.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) return errno;
        file = fd;
        return 0;
    }
    Error create(const Path& copy, Handle& file) override {
        int const fd = ::open(copy.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, 0666);
        if (fd < 0) return errno;
        file = fd;
        return 0;
    }
    Error read(Handle file, std::span<std::uint8_t> into, std::size_t& got) override {
        for (;;) {
            ssize_t const n = ::read(descriptor(file), into.data(), into.size());
            if (n >= 0) {
                got = static_cast<std::size_t>(n);
                return 0;
            }
            if (errno != EINTR) return errno;
        }
    }
    Error write(Handle file, std::span<const std::uint8_t> bytes) override {
        while (!bytes.empty()) {
            ssize_t const n = ::write(descriptor(file), bytes.data(), bytes.size());
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return errno;
            if (n == 0) return EIO;
            bytes = bytes.subspan(static_cast<std::size_t>(n));
        }
        return 0;
    }
    // The descriptor is gone whatever close says: it is never closed a second time.
    Error close(Handle file) override { return ::close(descriptor(file)) == 0 ? 0 : errno; }
    // Never replacing: renameat2 with RENAME_NOREPLACE, or, where the file system refuses that
    // flag, a second link under the new name, which fails if the name is taken, then the old
    // name removed; or, where it has no links either, a rename under a lock.
    Error rename(const Path& from, const Path& to) override {
        if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
        if (errno != EINVAL && errno != ENOSYS) return errno;
        if (::link(from.c_str(), to.c_str()) != 0) {
            return unsupported(errno) ? rename_under_lock(from.c_str(), to.c_str()) : errno;
        }
        return ::unlink(from.c_str()) == 0 ? 0 : errno;
    }
    Error remove(const Path& path) override { return ::unlink(path.c_str()) == 0 || errno == ENOENT ? 0 : errno; }
    bool exists(Error error) override { return error == EEXIST; }
    // Where the opened file really is, from the kernel's name for the descriptor: a link that leads
    // into a folder of copies is found, however many links it passes.
    bool inside_copies(Handle file) override {
        char real[PATH_MAX];
        std::string const name = "/proc/self/fd/" + std::to_string(descriptor(file));
        ssize_t const length = ::readlink(name.c_str(), real, sizeof real);
        return length > 0 && static_cast<std::size_t>(length) < sizeof real &&
               inside_converted(std::string_view(real, static_cast<std::size_t>(length)), false);
    }
    bool regular(Handle file) override {
        struct stat status;
        return ::fstat(descriptor(file), &status) == 0 && S_ISREG(status.st_mode);
    }
};

}  // namespace

Files& posix_files() {
    static PosixFiles files;
    return files;
}

}  // namespace drop

#include "files_posix.hpp"

#include <fcntl.h>
#include <stdio.h>  // renameat2
#include <unistd.h>

#include <cerrno>

namespace drop {

namespace {

int descriptor(Files::Handle file) { return static_cast<int>(file); }

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
    // name removed.
    Error rename(const Path& from, const Path& to) override {
        if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
        if (errno != EINVAL && errno != ENOSYS) return errno;
        if (::link(from.c_str(), to.c_str()) != 0) return errno;
        return ::unlink(from.c_str()) == 0 ? 0 : errno;
    }
    Error remove(const Path& path) override { return ::unlink(path.c_str()) == 0 || errno == ENOENT ? 0 : errno; }
    bool exists(Error error) override { return error == EEXIST; }
    bool inside_copies(Handle) override { return false; }  // links are told apart by the walk here
};

}  // namespace

Files& posix_files() {
    static PosixFiles files;
    return files;
}

}  // namespace drop

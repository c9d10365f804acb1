// The file calls of a drop on Linux, and its questions of the file system. Every call names a
// file by its name in a folder that the drop holds open (the *at calls), so that no folder
// swapped for a link meanwhile can lead it elsewhere. A drop marks each folder of copies it uses
// with a lock file that it holds locked (flock) while it runs and removes when it ends; the kernel
// drops the lock of a drop that is killed.
#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <stdio.h>  // renameat2
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <string>
#include <thread>

#include "files_posix.hpp"
#include "paths.hpp"
#include "system.hpp"

namespace drop {

namespace {

int descriptor(Handle file) { return static_cast<int>(file); }

// Whether `error` says that a file system has no such call or flag: then the next way is tried.
bool unsupported(int error) { return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP || error == EPERM; }

// A rename that never replaces, for a file system that takes neither RENAME_NOREPLACE nor a second
// link (exFAT through FUSE, for one): the check and the rename are made under an exclusive lock on
// the folder `to_folder`, which every drop takes for this, so no two drops, nor two threads, can
// both find the name free. Only a program that is no drop could still take the name in between.
// The lock is taken on an open file of its own: two threads of one drop lock apart.
int rename_under_lock(int from_folder, const char* from, int to_folder, const char* to) {
    int const lock = ::openat(to_folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (lock < 0) return errno;
    int error = 0;
    struct stat taken;
    while (::flock(lock, LOCK_EX) != 0 && errno == EINTR) {
    }
    if (::fstatat(to_folder, to, &taken, AT_SYMLINK_NOFOLLOW) == 0) error = EEXIST;
    else if (errno != ENOENT) error = errno;
    else if (::renameat(from_folder, from, to_folder, to) != 0) error = errno;
    ::close(lock);  // and with it the lock
    return error;
}

Version version_of(const struct stat& status) {
    return {static_cast<std::uint64_t>(status.st_size),
            std::int64_t{status.st_mtim.tv_sec} * 1000000000 + std::int64_t{status.st_mtim.tv_nsec},
            static_cast<std::uint64_t>(status.st_ino), static_cast<std::uint64_t>(status.st_dev)};
}

// Where the open `file` is, as the kernel names it; empty when it cannot say.
std::string real_path_of(int file) {
    char real[PATH_MAX];
    std::string const name = "/proc/self/fd/" + std::to_string(file);
    ssize_t const length = ::readlink(name.c_str(), real, sizeof real);
    return length > 0 && static_cast<std::size_t>(length) < sizeof real ? std::string(real, static_cast<std::size_t>(length))
                                                                         : std::string();
}

struct PosixFiles final : Files {
    // O_NONBLOCK: opening a FIFO for reading would wait for a writer.
    Error open(const Folder& folder, const Path& name, bool follow, Handle& file, Version& version,
               std::uint32_t& mode, bool& regular) override {
        int const fd = ::openat(descriptor(folder.handle), name.c_str(),
                                O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (follow ? 0 : O_NOFOLLOW));
        if (fd < 0) return errno;
        struct stat status;
        if (::fstat(fd, &status) != 0) {
            int const error = errno;
            ::close(fd);
            return error;
        }
        file = fd;
        version = version_of(status);
        mode = status.st_mode & 0777U;
        regular = S_ISREG(status.st_mode);
        return 0;
    }
    Error create(const Folder& folder, const Path& name, std::uint32_t mode, Handle& file) override {
        int const fd = ::openat(descriptor(folder.handle), name.c_str(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, static_cast<mode_t>(mode));
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
    Error flush(const Folder& folder, Handle file) override {
        return !folder.flush_each || ::fdatasync(descriptor(file)) == 0 ? 0 : errno;
    }
    // syncfs, unlike sync, says when a write of the file system failed since the folder was opened.
    Error flush_all(const Folder& folder) override {
        int const fd = descriptor(folder.handle);
        return (folder.flush_each ? ::fsync(fd) : ::syncfs(fd)) == 0 ? 0 : errno;
    }
    // The descriptor is gone whatever close says: it is never closed a second time.
    Error close(Handle file) override { return ::close(descriptor(file)) == 0 ? 0 : errno; }
    Error version(const Folder& folder, const Path& name, bool follow, Handle, Version& version) override {
        struct stat status;
        if (::fstatat(descriptor(folder.handle), name.c_str(), &status, follow ? 0 : AT_SYMLINK_NOFOLLOW) != 0) return errno;
        version = version_of(status);
        return 0;
    }
    // Never replacing unless asked: renameat2 with RENAME_NOREPLACE, or, where the file system
    // refuses that flag, a second link under the new name, which fails if the name is taken, then
    // the old name removed; or, where it has no links either, a rename under a lock.
    Error rename(const Folder& from_folder, const Path& from, Handle, const Folder& to_folder, const Path& to,
                 bool replace) override {
        int const source = descriptor(from_folder.handle), target = descriptor(to_folder.handle);
        if (replace) return ::renameat(source, from.c_str(), target, to.c_str()) == 0 ? 0 : errno;
        if (::renameat2(source, from.c_str(), target, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
        if (errno != EINVAL && errno != ENOSYS) return errno;
        if (::linkat(source, from.c_str(), target, to.c_str(), 0) != 0) {
            return unsupported(errno) ? rename_under_lock(source, from.c_str(), target, to.c_str()) : errno;
        }
        return ::unlinkat(source, from.c_str(), 0) == 0 ? 0 : errno;
    }
    Error remove(const Folder& folder, const Path& name) override {
        return ::unlinkat(descriptor(folder.handle), name.c_str(), 0) == 0 || errno == ENOENT ? 0 : errno;
    }
    bool exists(Error error) override { return error == EEXIST; }
    // Where the opened file really is, from the kernel's name for the descriptor: a link that leads
    // into a folder of copies is found, however many links it passes.
    bool inside_copies(Handle file) override { return inside_converted(real_path_of(descriptor(file)), false); }
};

// The names in a folder, read through a descriptor of its own, so that no other listing of the
// same folder moves its place.
template <class Each>
bool each_name(const Folder& folder, Each each) {
    int const fd = ::openat(descriptor(folder.handle), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* const listing = fd < 0 ? nullptr : ::fdopendir(fd);
    if (listing == nullptr) {
        if (fd >= 0) ::close(fd);
        return false;
    }
    while (dirent const* const entry = ::readdir(listing)) {
        std::string_view const name = entry->d_name;
        if (name != "." && name != "..") each(*entry);
    }
    ::closedir(listing);
    return true;
}

}  // namespace

bool flushes_each(int folder) {
    struct statfs status;
    return ::fstatfs(folder, &status) == 0 && status.f_type == FUSE_SUPER_MAGIC;
}

Files& system_files() {
    static PosixFiles files;
    return files;
}

std::uint32_t process_id() { return static_cast<std::uint32_t>(::getpid()); }

std::size_t processors() { return std::thread::hardware_concurrency(); }

void close_folder(Folder& folder) {
    if (folder.handle != no_handle) ::close(descriptor(folder.handle));
    folder.handle = no_handle;
}

Error identity_of(const Folder& folder, Identity& identity) {
    struct stat status;
    if (::fstat(descriptor(folder.handle), &status) != 0) return errno;
    identity = {static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino)};
    return 0;
}

Error find(const Folder& folder, const Path& name, Found& found) {
    struct stat status;
    found = {};
    if (::fstatat(descriptor(folder.handle), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno == ENOENT ? 0 : errno;
    }
    mode_t const mode = status.st_mode;
    found.kind = S_ISREG(mode)    ? Found::Kind::file
                 : S_ISDIR(mode)  ? Found::Kind::folder
                 : S_ISLNK(mode)  ? Found::Kind::link
                 : S_ISFIFO(mode) ? Found::Kind::fifo
                 : S_ISSOCK(mode) ? Found::Kind::socket
                                  : Found::Kind::device;
    found.size = static_cast<std::uint64_t>(status.st_size);
    return 0;
}

Error open_folder(const Folder& folder, const Path& name, bool follow, Folder& child) {
    int const fd = ::openat(descriptor(folder.handle), name.c_str(),
                            O_RDONLY | O_DIRECTORY | O_CLOEXEC | (follow ? 0 : O_NOFOLLOW));
    if (fd < 0) return errno;
    // A link, as a folder of copies may be, may lead to another file system.
    child = {fd, join(folder.path, name), follow ? flushes_each(fd) : folder.flush_each};
    return 0;
}

Error make_folder(const Folder& folder, const Path& name, bool& made) {
    made = ::mkdirat(descriptor(folder.handle), name.c_str(), 0777) == 0;
    return made || errno == EEXIST ? 0 : errno;
}

void remove_folder(const Folder& folder, const Path& name) {
    ::unlinkat(descriptor(folder.handle), name.c_str(), AT_REMOVEDIR);
}

// Whatever else has taken the name meanwhile is not removed: unlinkat takes no folder, and a
// file that is not regular is left.
bool remove_file(const Folder& folder, const Path& name) {
    struct stat status;
    return ::fstatat(descriptor(folder.handle), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
           S_ISREG(status.st_mode) && ::unlinkat(descriptor(folder.handle), name.c_str(), 0) == 0;
}

std::vector<Path> names_in(const Folder& folder) {
    std::vector<Path> names;
    each_name(folder, [&](const dirent& entry) { names.emplace_back(entry.d_name); });
    return names;
}

Path real_path(const Folder& folder) { return real_path_of(descriptor(folder.handle)); }

// Each name of the path below the folder of copies is looked for in its folder's listing as it
// is spelled: a case-insensitive mount (vfat, exFAT, NTFS, casefold ext4) also finds a file whose
// names differ in letter case, or in a way of writing a letter.
bool spelled_as(const Folder& copies, PathView relative) {
    Folder at = copies;
    bool own = false, spelled = true;
    while (spelled && !relative.empty()) {
        std::size_t const slash = std::min(relative.find('/'), relative.size());
        std::string const name(relative.substr(0, slash));
        bool found = false;
        each_name(at, [&](const dirent& entry) { found = found || name == entry.d_name; });
        spelled = found;
        relative.remove_prefix(slash == relative.size() ? slash : slash + 1);
        if (!spelled || relative.empty()) break;
        Folder next;
        spelled = open_folder(at, name, false, next) == 0;
        if (own) close_folder(at);
        at = next;
        own = spelled;
    }
    if (own) close_folder(at);
    return spelled;
}

// A lock file that nobody holds is removed while it is locked here, so that no drop takes it for
// its own meanwhile.
bool at_work(const Folder& copies, std::uint32_t owner) {
    std::string const lock = lock_name<char>(owner);
    int const fd = ::openat(descriptor(copies.handle), lock.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    bool const held = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
    if (!held) ::unlinkat(descriptor(copies.handle), lock.c_str(), 0);
    ::close(fd);
    return held;
}

// Another drop may take a new lock file for a dead drop's between its making and its locking
// here, and remove it: it is then made again.
Lock lock_folder(const Folder& copies, std::uint32_t process) {
    std::string const lock = lock_name<char>(process);
    int const folder = descriptor(copies.handle);
    for (int attempt = 0; attempt < 10; ++attempt) {
        int const fd = ::openat(folder, lock.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0) return {no_handle, Lock::Failed::create, errno};
        // Waiting: another drop holds a new lock file only for the moment it takes to tell
        // whether the drop that made it is still at work.
        int locked = 0;
        while ((locked = ::flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
        }
        if (locked != 0) {
            int const error = errno;
            ::unlinkat(folder, lock.c_str(), 0);
            ::close(fd);
            return {no_handle, Lock::Failed::hold, error};
        }
        struct stat held, named;
        if (::fstat(fd, &held) == 0 && ::fstatat(folder, lock.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            held.st_ino == named.st_ino && held.st_dev == named.st_dev) {
            return {fd, Lock::Failed::none, 0};
        }
        ::close(fd);
    }
    return {no_handle, Lock::Failed::hold, 0};
}

// The lock file goes while it is still locked: nothing of this drop stays but its copies.
void unlock_folder(const Folder& copies, std::uint32_t process, const Lock& lock) {
    ::unlinkat(descriptor(copies.handle), lock_name<char>(process).c_str(), 0);
    ::close(descriptor(lock.handle));
}

}  // namespace drop

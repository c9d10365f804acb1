// The file calls of a drop on Linux, and its questions of the file system. A drop marks each
// folder of copies it uses with a lock file that it holds locked (flock) while it runs and
// removes when it ends; the kernel drops the lock of a drop that is killed.
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>  // renameat2
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <string>
#include <thread>

#include "paths.hpp"
#include "system.hpp"

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

Version version_of(const struct stat& status) {
    return {static_cast<std::uint64_t>(status.st_size),
            std::int64_t{status.st_mtim.tv_sec} * 1000000000 + std::int64_t{status.st_mtim.tv_nsec},
            static_cast<std::uint64_t>(status.st_ino), static_cast<std::uint64_t>(status.st_dev)};
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
    Error version(Handle file, Version& version) override {
        struct stat status;
        return ::fstat(descriptor(file), &status) == 0 ? (version = version_of(status), 0) : errno;
    }
    Error version(const Path& path, Version& version) override {
        struct stat status;
        return ::stat(path.c_str(), &status) == 0 ? (version = version_of(status), 0) : errno;
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

// The names in one folder, sorted, as its listing gives them; kept per thread for the folder
// asked last, since the jobs of one folder come one after another.
struct Names {
    std::string folder;
    std::vector<std::string> names;
};

bool listed(Names& listing, const std::string& folder, std::string_view name, bool fresh) {
    if (listing.folder != folder || fresh) {
        listing.folder = folder;
        listing.names = names_in(folder);
        std::sort(listing.names.begin(), listing.names.end());
    }
    return std::binary_search(listing.names.begin(), listing.names.end(), name);
}

}  // namespace

Files& system_files() {
    static PosixFiles files;
    return files;
}

std::uint32_t process_id() { return static_cast<std::uint32_t>(::getpid()); }

std::size_t processors() { return std::thread::hardware_concurrency(); }

Kind kind_of(const Path& path) {
    struct stat status;
    if (::stat(path.c_str(), &status) != 0) return Kind::missing;
    return S_ISDIR(status.st_mode) ? Kind::folder : Kind::file;
}

Error create_folder(const Path& folder, bool& made) {
    made = ::mkdir(folder.c_str(), 0777) == 0;
    return made || errno == EEXIST ? 0 : errno;
}

void remove_folder(const Path& folder) { ::rmdir(folder.c_str()); }

bool remove_file(const Path& path) { return ::unlink(path.c_str()) == 0; }

std::vector<Path> names_in(const Path& folder) {
    std::vector<Path> names;
    DIR* const listing = ::opendir(folder.c_str());
    if (listing == nullptr) return names;
    while (dirent const* const entry = ::readdir(listing)) {
        std::string_view const name = entry->d_name;
        if (name != "." && name != "..") names.emplace_back(name);
    }
    ::closedir(listing);
    return names;
}

// Each name of the path below the folder of copies is looked for in its folder's listing as it
// is spelled: a case-insensitive mount (vfat, exFAT, NTFS, casefold ext4) also finds a file whose
// names differ in letter case, or in a way of writing a letter.
bool spelled_as(const Path& copies, PathView relative) {
    thread_local Names listing;
    thread_local std::string checked;  // the last folder whose path is known to be spelled so
    std::string_view rest = relative;
    std::string folder = copies;
    std::string const own = std::string(parent(std::string_view(join(copies, relative))));
    while (!rest.empty()) {
        std::size_t const slash = rest.find('/');
        std::string_view const name = rest.substr(0, slash);
        bool const last = slash == std::string_view::npos;
        if (last || own != checked) {
            // A listing taken before a thread made the name is taken again before it says no.
            if (!listed(listing, folder, name, false) && !listed(listing, folder, name, true)) return false;
        }
        folder = join(folder, name);
        rest.remove_prefix(last ? rest.size() : slash + 1);
    }
    checked = own;
    return true;
}

// A lock file that nobody holds is removed while it is locked here, so that no drop takes it for
// its own meanwhile.
bool at_work(const Path& copies, std::uint32_t owner) {
    std::string const lock = join(copies, lock_name<char>(owner));
    int const fd = ::open(lock.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    bool const held = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
    if (!held) ::unlink(lock.c_str());
    ::close(fd);
    return held;
}

// Another drop may take a new lock file for a dead drop's between its making and its locking
// here, and remove it: it is then made again.
Lock lock_folder(const Path& copies, std::uint32_t process) {
    std::string const lock = join(copies, lock_name<char>(process));
    for (int attempt = 0; attempt < 10; ++attempt) {
        int const fd = ::open(lock.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0) return {0, Lock::Failed::create, errno};
        // Waiting: another drop holds a new lock file only for the moment it takes to tell
        // whether the drop that made it is still at work.
        int locked = 0;
        while ((locked = ::flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
        }
        if (locked != 0) {
            int const error = errno;
            ::unlink(lock.c_str());
            ::close(fd);
            return {0, Lock::Failed::hold, error};
        }
        struct stat held, named;
        if (::fstat(fd, &held) == 0 && ::stat(lock.c_str(), &named) == 0 && held.st_ino == named.st_ino &&
            held.st_dev == named.st_dev) {
            return {fd, Lock::Failed::none, 0};
        }
        ::close(fd);
    }
    return {0, Lock::Failed::hold, 0};
}

// The lock file goes while it is still locked: nothing of this drop stays but its copies.
void unlock_folder(const Path& copies, std::uint32_t process, const Lock& lock) {
    ::unlink(join(copies, lock_name<char>(process)).c_str());
    ::close(descriptor(lock.handle));
}

}  // namespace drop

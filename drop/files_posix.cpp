// The file calls of a drop on Linux, and its questions of the file system. Every call names a
// file by its name in a folder that the drop holds open (the *at calls), so that no folder
// swapped for a link meanwhile can lead it elsewhere. A drop marks each folder of copies it uses
// with a lock file that it holds locked (flock) while it runs and removes when it ends; the kernel
// drops the lock of a drop that is killed. An original is read under a read lease where its file
// system keeps them: a program that holds it open to write refuses the lease, and one that opens
// it to write breaks it, which the drop sees before it names a copy.
#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <signal.h>
#include <stdio.h>  // renameat2
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <string>
#include <thread>

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

// Where the open `file` is, as the kernel names it, for the words of a line; empty when it
// cannot say.
std::string real_path_of(int file) {
    char real[PATH_MAX];
    std::string const name = "/proc/self/fd/" + std::to_string(file);
    ssize_t const length = ::readlink(name.c_str(), real, sizeof real);
    return length > 0 && static_cast<std::size_t>(length) < sizeof real ? std::string(real, static_cast<std::size_t>(length))
                                                                         : std::string();
}

// Whether the file system of `status` tells a busy file by refusing its lease: the local ones
// whose leases the kernel keeps. NFS, SMB, FUSE and overlay refuse a lease on every file, busy
// or not, and others have none; there a file's version alone tells a change.
bool keeps_leases(const struct statfs& status) {
    switch (static_cast<unsigned long>(status.f_type)) {
    case EXT4_SUPER_MAGIC:  // ext2, ext3 and ext4
    case XFS_SUPER_MAGIC:
    case BTRFS_SUPER_MAGIC:
    case TMPFS_MAGIC:
    case F2FS_SUPER_MAGIC:
    case MSDOS_SUPER_MAGIC:
    case 0x2011BAB0UL:  // exFAT
    case 0x7366746EUL:  // NTFS (ntfs3)
    case 0x2FC12FC1UL:  // ZFS
    case 0xCA451A4EUL:  // bcachefs
    case REISERFS_SUPER_MAGIC:
    case 0x3153464AUL:  // JFS
        return true;
    default: return false;
    }
}

// A lease broken by a program that opens the file to write is told by SIGIO, whose default
// action ends the process, and which may reach any of its threads: it is ignored, once, before
// the first lease. The drop asks F_GETLEASE instead, and no read is interrupted.
void ignore_lease_breaks() {
    static bool const ignored = [] {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        return ::sigaction(SIGIO, &ignore, nullptr) == 0;
    }();
    (void)ignored;
}

struct PosixFiles final : Files {
    // O_NONBLOCK: opening a FIFO for reading would wait for a writer. O_NOFOLLOW: a link swapped
    // in for a listed file fails (ELOOP); the links that a drop follows it follows by hand.
    Error open(const Folder& folder, const Path& name, bool, Handle& file, Opened& opened) override {
        int const fd = ::openat(descriptor(folder.handle), name.c_str(),
                                O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0) return errno;
        opened.guarded = false;
        if (folder.leases) {
            ignore_lease_breaks();
            if (::fcntl(fd, F_SETLEASE, F_RDLCK) == 0) {
                opened.guarded = true;
            } else if (errno == EAGAIN) {  // a program holds it open to write
                ::close(fd);
                return EAGAIN;
            }
            // Otherwise the drop may not lease it (another user's file) or it takes none.
        }
        struct stat status;
        if (::fstat(fd, &status) != 0) {
            int const error = errno;
            ::close(fd);
            return error;
        }
        file = fd;
        opened.version = version_of(status);
        opened.mode = status.st_mode & 0777U;
        opened.regular = S_ISREG(status.st_mode);
        return 0;
    }
    // EWOULDBLOCK, the same number, is what open gives where another program holds a write lease.
    bool busy(Error error) override { return error == EAGAIN; }
    bool linked(Error error) override { return error == ELOOP; }  // O_NOFOLLOW met a link
    bool guarded(Handle file) override { return ::fcntl(descriptor(file), F_GETLEASE) == F_RDLCK; }
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
    Error set_time(Handle file, std::int64_t written) override {
        timespec const times[2] = {{0, UTIME_OMIT},
                                   {static_cast<time_t>(written / ticks_per_second - (written % ticks_per_second < 0)),
                                    static_cast<long>((written % ticks_per_second + ticks_per_second) % ticks_per_second)}};
        return ::futimens(descriptor(file), times) == 0 ? 0 : errno;
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
    Error version(const Folder& folder, const Path& name, Handle, Version& version) override {
        struct stat status;
        if (::fstatat(descriptor(folder.handle), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) return errno;
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

void ask_file_system(Folder& folder) {
    struct statfs status;
    bool const known = ::fstatfs(descriptor(folder.handle), &status) == 0;
    folder.flush_each = known && status.f_type == FUSE_SUPER_MAGIC;
    folder.leases = known && keeps_leases(status);
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

Error identity_of(const Folder& folder, Identity& identity, std::uint32_t* mode) {
    struct stat status;
    if (::fstat(descriptor(folder.handle), &status) != 0) return errno;
    identity = {static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino)};
    if (mode != nullptr) *mode = status.st_mode & 07777U;
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
    found.written = version_of(status).written;
    found.mine = status.st_uid == ::geteuid();
    return 0;
}

Error open_folder(const Folder& folder, const Path& name, bool follow, Folder& child) {
    int const fd = ::openat(descriptor(folder.handle), name.c_str(),
                            O_RDONLY | O_DIRECTORY | O_CLOEXEC | (follow ? 0 : O_NOFOLLOW));
    if (fd < 0) return errno;
    child = {fd, join(folder.path, name), folder.flush_each, 0, folder.leases, {}};
    if (follow) ask_file_system(child);  // a link, as a folder of copies may be, may lead to another file system
    return 0;
}

// The owner may always write and enter it until the drop ends: a folder whose original stops
// that gets its mode once its copies are in.
Error make_folder(const Folder& folder, const Path& name, std::uint32_t mode, bool& made) {
    made = ::mkdirat(descriptor(folder.handle), name.c_str(), static_cast<mode_t>((mode | 0700U) & 07777U)) == 0;
    return made || errno == EEXIST ? 0 : errno;
}

// The umask is asked once, on the thread that ends the drop, when no other thread makes files.
void set_mode(const Folder& folder, std::uint32_t mode) {
    mode_t const mask = ::umask(0);
    ::umask(mask);
    ::fchmod(descriptor(folder.handle), static_cast<mode_t>(mode & ~mask & 07777U));
}

namespace {

// The most links a path may pass, as the kernel counts them (MAXSYMLINKS).
constexpr int most_links = 40;

// Whether a link of owner `owner` is one that the user who runs the drop may follow anywhere.
bool trusted_owner(uid_t owner) { return owner == ::geteuid() || owner == 0; }

}  // namespace

// Each name is opened O_PATH | O_NOFOLLOW beneath the folder before it, which neither reads nor
// acts on what it opens; a link is read through that very descriptor, so that a link swapped in
// meanwhile is never read in its place. The folder held at each step is one of the drop's own.
Followed follow_link(const Folder& folder, const Path& name) {
    Followed followed;
    int at = ::openat(descriptor(folder.handle), ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (at < 0) {
        followed.error = errno;
        return followed;
    }
    std::string shown = folder.path;
    std::vector<std::string> pending{name};  // the names still to walk, the next last
    int links = 0;
    bool first = true;
    const auto move_to = [&](int next) {
        ::close(at);
        at = next;
    };
    while (followed.error == 0 && !pending.empty()) {
        std::string const next = std::move(pending.back());
        pending.pop_back();
        if (next.empty() || next == ".") continue;
        if (next == "..") {
            int const up = ::openat(at, "..", O_PATH | O_DIRECTORY | O_CLOEXEC);
            if (up < 0) followed.error = errno;
            else move_to(up);
            shown = std::string(parent(std::string_view(shown)));
            continue;
        }
        int const fd = ::openat(at, next.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
        struct stat status;
        if (fd < 0 || ::fstat(fd, &status) != 0) {
            // Nothing there, or what cannot be asked, ends the walk: the last name says it.
            if (fd >= 0) ::close(fd);
            if (!pending.empty()) followed.error = errno;
            followed.name = next;
            break;
        }
        if (S_ISLNK(status.st_mode)) {
            char target[PATH_MAX + 1];
            ssize_t const length = ::readlinkat(fd, "", target, sizeof target);
            int const error = errno;
            ::close(fd);
            if (first) followed.mine = status.st_uid == ::geteuid();
            followed.trusted = followed.trusted && trusted_owner(status.st_uid);
            first = false;
            if (++links > most_links) followed.error = ELOOP;
            else if (length < 0) followed.error = error;
            else if (static_cast<std::size_t>(length) >= sizeof target - 1) followed.error = ENAMETOOLONG;
            if (followed.error != 0) break;
            std::string_view text(target, static_cast<std::size_t>(length));
            if (text.starts_with('/')) {
                int const root = ::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
                if (root < 0) {
                    followed.error = errno;
                    break;
                }
                move_to(root);
                shown.assign(1, '/');  // not = "/", of which GCC 12 warns wrongly
            }
            // Its names go first, in their order, before what was still to walk after the link.
            std::vector<std::string> names;
            for (std::size_t start = 0; start <= text.size();) {
                std::size_t const end = std::min(text.find('/', start), text.size());
                names.emplace_back(text.substr(start, end - start));
                start = end + 1;
            }
            pending.insert(pending.end(), names.rbegin(), names.rend());
            continue;
        }
        first = false;
        if (pending.empty()) {  // the last name, and no link: where the link leads
            ::close(fd);
            followed.name = next;
            break;
        }
        if (!S_ISDIR(status.st_mode)) {
            ::close(fd);
            followed.error = ENOTDIR;
            break;
        }
        move_to(fd);
        shown = join(shown, next);
    }
    if (followed.error != 0) {
        ::close(at);
        return followed;
    }
    if (followed.name.empty()) followed.name.assign(1, '.');  // a link that ends with a slash leads to a folder
    // Held as a folder the drop can list and open names in, as every other folder it holds.
    int const held = ::openat(at, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ::close(at);
    if (held < 0) {
        followed.error = errno;
        return followed;
    }
    followed.folder = {held, shown, folder.flush_each, 0, folder.leases, {}};
    ask_file_system(followed.folder);
    return followed;
}

Error first_above(const Folder& folder, std::span<const Identity> marks, std::size_t& met) {
    int at = ::openat(descriptor(folder.handle), ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (at < 0) return errno;
    Error error = 0;
    met = marks.size();
    Identity last{};
    for (;;) {
        struct stat status;
        if (::fstat(at, &status) != 0) {
            error = errno;
            break;
        }
        Identity const here{static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino)};
        if (here == last) break;  // the root is its own parent
        auto const mark = std::find(marks.begin(), marks.end(), here);
        if (mark != marks.end()) {
            met = static_cast<std::size_t>(mark - marks.begin());
            break;
        }
        last = here;
        int const up = ::openat(at, "..", O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (up < 0) {
            error = errno;
            break;
        }
        ::close(at);
        at = up;
    }
    ::close(at);
    return error;
}

// What the soft limit leaves, less what this process has open now.
std::size_t descriptors_left() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return SIZE_MAX;
    std::size_t open = 0;
    DIR* const listing = ::opendir("/proc/self/fd");
    if (listing == nullptr) return static_cast<std::size_t>(limit.rlim_cur) / 2;  // no /proc: a guess on the safe side
    while (dirent const* const entry = ::readdir(listing)) open += entry->d_name[0] != '.';
    ::closedir(listing);
    open = open > 0 ? open - 1 : 0;  // the listing's own
    return limit.rlim_cur > open ? static_cast<std::size_t>(limit.rlim_cur) - open : 0;
}

void remove_folder(const Folder& folder, const Path& name) {
    ::unlinkat(descriptor(folder.handle), name.c_str(), AT_REMOVEDIR);
}

// Whatever else has taken the name meanwhile is not said to be removed: the file checked is held
// (O_PATH, which needs no right to read it) while its name is removed, and it is removed only if
// it has no name left.
Removal remove_file(const Folder& folder, const Path& name) {
    int const fd = ::openat(descriptor(folder.handle), name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return Removal::other;
    struct stat status;
    Removal removal = Removal::other;
    if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_nlink == 1) {
        removal = ::unlinkat(descriptor(folder.handle), name.c_str(), 0) != 0           ? Removal::stays
                  : ::fstat(fd, &status) == 0 && status.st_nlink == 0 ? Removal::removed
                                                                      : Removal::other;
    }
    ::close(fd);
    return removal;
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
        if (::fstat(fd, &held) != 0) {
            int const error = errno;
            ::unlinkat(folder, lock.c_str(), 0);
            ::close(fd);
            return {no_handle, Lock::Failed::hold, error};
        }
        if (::fstatat(folder, lock.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 && held.st_ino == named.st_ino &&
            held.st_dev == named.st_dev) {
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

// The listing of a folder and the look-up of a path given, on Linux: paths are bytes, passed to
// every call as they are.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>

#include "output.hpp"
#include "paths.hpp"
#include "system.hpp"

namespace drop {

namespace {

// The type of a file of mode `mode` as the walk takes it.
Entry::Type type_of(mode_t mode) {
    if (S_ISDIR(mode)) return Entry::Type::folder;
    if (S_ISFIFO(mode)) return Entry::Type::fifo;
    if (S_ISSOCK(mode)) return Entry::Type::socket;
    if (S_ISCHR(mode) || S_ISBLK(mode)) return Entry::Type::device;
    return Entry::Type::file;
}

// `path` with every link and every "." and ".." resolved; empty, with errno set, when that fails.
std::string resolved(const std::string& path) {
    std::unique_ptr<char, decltype(&std::free)> const real(realpath(path.c_str(), nullptr), &std::free);
    return real ? std::string(real.get()) : std::string();
}

// The full path of `argument`, its folders resolved and its last component as given, so that a
// link to a file is converted as itself, beside itself; empty, with errno set, when a folder of it
// does not exist.
std::string full_path(std::string_view argument) {
    std::string path(argument);
    while (path.size() > 1 && path.ends_with('/')) path.pop_back();
    std::string_view const last = last_component(std::string_view(path));
    if (last.empty() || last == "." || last == "..") return resolved(path);
    std::string_view const folder = parent(std::string_view(path));
    std::string const real = resolved(folder.empty() ? "." : std::string(folder));
    return real.empty() ? real : join(real, last);
}

}  // namespace

// Below the top, a folder is opened only if it is no link, which the listing might have missed.
// The type comes from the listing, or from the file where the file system gives none there; a
// file that cannot be asked fails as its job. A link is what it leads to, and one that leads
// nowhere fails as its job.
Listing list_folder(const Path& folder, bool top) {
    Listing listing;
    int const fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (top ? 0 : O_NOFOLLOW));
    DIR* const d = fd < 0 ? nullptr : ::fdopendir(fd);
    if (d == nullptr) {
        listing.opened = false;
        listing.error = errno;
        if (fd >= 0) ::close(fd);
        return listing;
    }
    for (;;) {
        errno = 0;
        dirent const* const entry = ::readdir(d);
        if (entry == nullptr) break;
        std::string_view const name = entry->d_name;
        if (name == "." || name == "..") continue;
        struct stat status;
        mode_t type = DTTOIF(mode_t{entry->d_type});
        if (entry->d_type == DT_UNKNOWN) {
            type = ::fstatat(fd, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 ? status.st_mode & S_IFMT : S_IFREG;
        }
        bool const link = S_ISLNK(type);
        if (link) type = ::fstatat(fd, entry->d_name, &status, 0) == 0 ? status.st_mode & S_IFMT : S_IFREG;
        Entry::Type const kind = type_of(type);
        listing.entries.push_back(
            {Path(name), link && kind == Entry::Type::folder ? Entry::Type::folder_link : kind});
    }
    listing.error = errno;
    ::closedir(d);
    return listing;
}

Given look_up(const char* argument) {
    Given given;
    std::string const path = full_path(argument);
    if (path.empty()) {
        given.error = errno;
        given.shown = readable(argument);
        return given;
    }
    given.shown = readable(path);
    struct stat status;
    if (::stat(path.c_str(), &status) != 0) {
        given.error = errno;
        return given;
    }
    given.source = path;
    given.real = resolved(path);
    given.type = type_of(status.st_mode);
    return given;
}

}  // namespace drop

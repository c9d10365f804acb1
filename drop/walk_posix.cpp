// The listing of a folder and the look-up of a path given, on Linux: paths are bytes, passed to
// every call as they are. A path given is looked up once, from the current folder; everything
// below it is found through the descriptor of the folder it gives.
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
// does not exist. Slashes at its end, as a shell's completion writes a folder's name, are no part
// of it: a link so given is named as given, and a file so given is the file.
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

// The type comes from the listing, or from the file where the file system gives none there; a
// file that cannot be asked fails as its job. A link is never followed here: the walk follows it
// by hand, beneath the folder given, to judge where it leads.
Listing list_folder(const Folder& folder) {
    Listing listing;
    int const at = static_cast<int>(folder.handle);
    int const fd = ::openat(at, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);  // a place of its own in the listing
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
            type = ::fstatat(at, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 ? status.st_mode & S_IFMT : S_IFREG;
        }
        bool const link = S_ISLNK(type);
        listing.entries.push_back({Path(name), link ? Entry::Type::file : type_of(type), link});
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
    given.shown = path;
    struct stat status;
    if (::stat(path.c_str(), &status) != 0) {
        given.error = errno;
        return given;
    }
    // Where it really is: a path too long to resolve is refused, since it could be a copy's.
    given.real = resolved(path);
    if (given.real.empty()) {
        given.error = errno;
        return given;
    }
    given.type = type_of(status.st_mode);
    // The folder given, a link to it followed; or the folder of the file given, which is then
    // found by its name there.
    bool const folder = given.type == Entry::Type::folder;
    std::string const held = folder ? path : std::string(parent(std::string_view(path)));
    int const fd = ::open(held.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        given.error = errno;
        return given;
    }
    given.folder.handle = fd;
    given.folder.path = held;
    ask_file_system(given.folder);
    if (!folder) given.name = std::string(last_component(std::string_view(path)));
    return given;
}

}  // namespace drop

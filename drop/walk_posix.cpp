// What a drop gives on Linux: paths are bytes, passed to every call as they are.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>
#include <utility>

#include "output_posix.hpp"
#include "paths.hpp"
#include "walk.hpp"

namespace drop {

namespace {

void note(Work& work, Note::Verdict verdict, std::string_view path, std::string why) {
    work.notes.push_back({verdict, readable(path), std::move(why)});
}

// What a file that is neither a folder nor a regular file is, for its line; empty for those two.
std::string other_kind(mode_t mode) {
    if (S_ISFIFO(mode)) return "not a regular file but a FIFO";
    if (S_ISSOCK(mode)) return "not a regular file but a socket";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "not a regular file but a device";
    return {};
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

// Name order, letter case aside, then by case, as on Windows: two names that differ only in case
// stand together.
bool before(const std::string& a, const std::string& b) {
    int const order = compare_ignoring_case(a, b);
    return order < 0 || (order == 0 && a < b);
}

// Lists the folder `top` and every folder below it, and adds a job for each WAV file found. The
// folders still to list are kept in a list, not on the stack, so that no depth can exhaust it;
// below the top, a folder is opened only if it is no link, which the listing might have missed.
void walk(const std::string& top, Work& work) {
    std::string const copies = join(top, "converted");
    std::size_t const jobs_before = work.jobs.size();
    std::vector<std::string> pending{""};  // relative to the top
    while (!pending.empty()) {
        std::string const relative = std::move(pending.back());
        pending.pop_back();
        std::string const folder = relative.empty() ? top : join(top, relative);
        int const fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (relative.empty() ? 0 : O_NOFOLLOW));
        DIR* const listing = fd < 0 ? nullptr : fdopendir(fd);
        if (listing == nullptr) {
            note(work, Note::Verdict::failed, folder, "cannot list the folder: " + system_text(errno));
            if (fd >= 0) close(fd);
            continue;
        }
        std::vector<std::string> wavs, folders;
        for (;;) {
            errno = 0;
            dirent const* const entry = readdir(listing);
            if (entry == nullptr) break;
            std::string_view const name = entry->d_name;
            if (name == "." || name == "..") continue;
            // The type from the listing, or from the file where the file system gives none there;
            // a file that cannot be asked fails as its job.
            struct stat status;
            mode_t type = DTTOIF(mode_t{entry->d_type});
            if (entry->d_type == DT_UNKNOWN) {
                bool const known = fstatat(fd, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0;
                type = known ? status.st_mode & S_IFMT : S_IFREG;
            }
            if (S_ISLNK(type)) {
                // A link is what it leads to, but a link to a folder is not entered: it may lead out
                // of the tree, or round in a loop. One that leads nowhere fails as its job.
                type = fstatat(fd, entry->d_name, &status, 0) == 0 ? status.st_mode & S_IFMT : S_IFREG;
                if (S_ISDIR(type) && !is_converted_folder(name)) {
                    note(work, Note::Verdict::not_entered, join(folder, name), "a folder link");
                    continue;
                }
            }
            if (S_ISDIR(type)) {
                // Used whatever it is, a link or a mount point too: its leftovers are cleared.
                if (is_converted_folder(name)) work.met.push_back(join(folder, name));
                else folders.emplace_back(join(relative, name));
            } else if (is_wav(name)) {
                std::string const kind = other_kind(type);
                if (kind.empty()) wavs.emplace_back(name);
                else note(work, Note::Verdict::skipped, join(folder, name), kind);
            }
        }
        int const error = errno;
        closedir(listing);
        if (error != 0) {
            note(work, Note::Verdict::failed, folder, "cannot list the whole folder: " + system_text(error));
        }

        std::sort(wavs.begin(), wavs.end(), before);
        for (const std::string& name : wavs) {
            std::string const source = join(folder, name);
            work.jobs.push_back({source, readable(source), copies, join(relative, name), false});
        }
        std::sort(folders.begin(), folders.end(), before);
        pending.insert(pending.end(), std::make_move_iterator(folders.rbegin()),
                       std::make_move_iterator(folders.rend()));
    }
    if (work.jobs.size() == jobs_before) {
        note(work, Note::Verdict::failed, top, "no .wav file in this folder or in a folder below it");
    }
}

}  // namespace

int compare_ignoring_case(PathView a, PathView b) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
        auto const x = static_cast<unsigned char>(lower(a[i])), y = static_cast<unsigned char>(lower(b[i]));
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
}

void take(const char* argument, Work& work) {
    if (*argument == '\0') {
        return note(work, Note::Verdict::failed, "\"\"", "an empty argument names no file or folder");
    }
    std::string const path = full_path(argument);
    if (path.empty()) return note(work, Note::Verdict::failed, argument, system_text(errno));
    struct stat status;
    if (stat(path.c_str(), &status) != 0) return note(work, Note::Verdict::failed, path, system_text(errno));
    bool const folder = S_ISDIR(status.st_mode);
    if (inside_converted(std::string_view(path), folder) ||
        inside_converted(std::string_view(resolved(path)), folder)) {
        return note(work, Note::Verdict::skipped, path,
                    folder ? "a folder of converted copies" : "a converted copy itself");
    }
    if (folder) return walk(path, work);
    if (std::string const kind = other_kind(status.st_mode); !kind.empty()) {
        return note(work, Note::Verdict::skipped, path, kind);
    }
    work.jobs.push_back({path, readable(path), join(parent(std::string_view(path)), "converted"),
                         std::string(last_component(std::string_view(path))), false});
}

}  // namespace drop

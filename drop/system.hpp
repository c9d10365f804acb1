// What a drop asks of the system, declared once: the file calls of a copy, the questions asked
// of the file system and the lock of a folder of copies (files_windows.cpp, files_posix.cpp),
// and the listing of a folder and the look-up of a path given (walk_windows.cpp,
// walk_posix.cpp). Each platform answers them with its own calls; what a drop decides from the
// answers, and every word it says, is portable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "copy.hpp"

namespace drop {

// The file calls of a conversion, as this system makes them.
Files& system_files();

// This process's id, which names its temporary copies and its locks.
std::uint32_t process_id();

// How many processors run this process's threads.
std::size_t processors();

// What is at a path, links followed.
enum class Kind { missing, file, folder };
Kind kind_of(const Path& path);

// Makes the folder `folder`: 0 when it was made, with `made` set, or when its name was taken
// already; or the error.
Error create_folder(const Path& folder, bool& made);

// Removes the folder `folder` if it is empty.
void remove_folder(const Path& folder);

// Removes the file `path`: true when this call removed it.
bool remove_file(const Path& path);

// The names in the folder `folder`, "." and ".." aside, in the order the listing gives them;
// none when it cannot be listed.
std::vector<Path> names_in(const Path& folder);

// Whether the file found at `copies`/`relative` is found under that path as it is spelled: a
// case-insensitive file system also finds a file whose names differ in letter case.
bool spelled_as(const Path& copies, PathView relative);

// The lock that a drop holds in each folder of copies that it uses, so that another drop can
// tell its temporary copies from those of a drop that ended. `failed` says which step failed:
// making the lock (`create`) or holding it (`hold`), with the system's `error` where it gave one.
struct Lock {
    Files::Handle handle = 0;
    enum class Failed { none, create, hold } failed = Failed::none;
    Error error = 0;
};
Lock lock_folder(const Path& copies, std::uint32_t process);
void unlock_folder(const Path& copies, std::uint32_t process, const Lock& lock);

// Whether the drop with the process id `owner` is still at work in the folder of copies `copies`:
// its lock is held. A lock that nobody holds is one that a drop left when it ended, and goes.
bool at_work(const Path& copies, std::uint32_t owner);

// One name in a listed folder, as the walk takes it: a folder link is a link to a folder, or on
// Windows a junction; a link to a file is what it leads to, and one that leads nowhere a file.
struct Entry {
    Path name;
    enum class Type { file, folder, folder_link, fifo, socket, device } type;
};

// What the listing of one folder gave: `opened` false when it could not be listed at all, with
// `error`; else its entries, and `error` when the listing ended before the last.
struct Listing {
    bool opened = true;
    Error error = 0;
    std::vector<Entry> entries;
};

// Lists `folder`. Below the `top` of a walk, a folder is listed only if it is no link.
Listing list_folder(const Path& folder, bool top);

// A file or folder given to a drop, as the system finds it: `source` for its calls, `shown` as
// lines name it, `real` where it really is (links followed, for the rule of converted folders),
// and `type`; or `error`, about `shown`.
struct Given {
    Path source, shown, real;
    Entry::Type type = Entry::Type::file;
    Error error = 0;
};
Given look_up(const Path::value_type* argument);

}  // namespace drop

// What a drop asks of the system, declared once: the file calls of a copy, the questions asked
// of the file system and the lock of a folder of copies (files_windows.cpp, files_posix.cpp),
// and the listing of a folder and the look-up of a path given (walk_windows.cpp,
// walk_posix.cpp). Every call after the look-up of what was given names a file or folder by its
// name in a folder that the drop holds open (copy.hpp's Folder). Each platform answers them with
// its own calls; what a drop decides from the answers, and every word it says, is portable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
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

// Lets go of a held folder.
void close_folder(Folder& folder);

// The identity of the held `folder`, and where `mode` is given its permission bits.
Error identity_of(const Folder& folder, Identity& identity, std::uint32_t* mode = nullptr);

// What `name` in `folder` is, a link not followed.
Error find(const Folder& folder, const Path& name, Found& found);

// Asks once what the file system of the held `folder` can do for the files in it (its leases).
void ask_file_system(Folder& folder);

// Opens the folder `name` in `folder`, never through a link: a link, a file or nothing there
// fails. Where `follow`, a link to a folder is followed, as the folder of copies may be one.
// `child.path` is `folder.path` joined with `name`.
Error open_folder(const Folder& folder, const Path& name, bool follow, Folder& child);

// Makes the folder `name` in `folder`, with the permission bits `mode` less the umask, and never
// fewer than its owner needs to make the copies in it (set_mode gives it the rest later): 0 when
// it was made, with `made` set, or when its name was taken already (by anything: the open that
// follows says what); or the error.
Error make_folder(const Folder& folder, const Path& name, std::uint32_t mode, bool& made);

// Gives the held `folder` the permission bits `mode` less the umask, once it holds its copies.
void set_mode(const Folder& folder, std::uint32_t mode);

// Whether a folder of permission bits `mode` would stop its owner making copies in it.
constexpr bool stops_owner(std::uint32_t mode) { return (mode & 0700U) != 0700U; }

// Follows the link `name` in `folder` one name at a time, each folder opened beneath the one
// before it and no link followed by the system, to what it leads to: `name` in `folder`, which
// is held, and which is no link (or nothing, or what could not be followed, with `error`).
// `mine` says that the link itself belongs to the user who runs the drop, and `trusted` that so
// does every link on the way, or to the system's administrator, as the kernel's protected links
// judge a link in a folder that others may write.
struct Followed {
    Error error = 0;
    Folder folder;
    Path name;
    bool mine = false, trusted = true;
};
Followed follow_link(const Folder& folder, const Path& name);

// Walks up from the held `folder` through each folder that holds it to the root, and says in
// `met` the index of the first of `marks` that it meets, `folder` itself first; marks.size()
// where it meets none. Identities, never the text of a path, so that no depth and no link can
// hide where a folder is.
Error first_above(const Folder& folder, std::span<const Identity> marks, std::size_t& met);

// How many more files and folders this process may open at once.
std::size_t descriptors_left();

// Removes the folder `name` in `folder` if it is empty.
void remove_folder(const Folder& folder, const Path& name);

// Removes the file `name` in `folder` if it is a regular file: `removed` once it is gone, and
// not another file or link that took its name meanwhile; `stays` for a regular file that could
// not be removed; `other` for anything else, which stays.
enum class Removal { removed, stays, other };
Removal remove_file(const Folder& folder, const Path& name);

// The names in the held `folder`, "." and ".." aside, in the order the listing gives them; none
// when it cannot be listed.
std::vector<Path> names_in(const Folder& folder);

// Where the held folder `folder` really is, links followed, as the system names it, for the words
// of a line; empty when it cannot say.
Path real_path(const Folder& folder);

// Whether the file found at `relative` below the held folder of copies is found under that path
// as it is spelled: a case-insensitive file system also finds a file whose names differ in
// letter case.
bool spelled_as(const Folder& copies, PathView relative);

// The lock that a drop holds in each folder of copies that it uses, so that another drop can
// tell its temporary copies from those of a drop that ended. `failed` says which step failed:
// making the lock (`create`: where the name is taken, what takes it is found by `find`) or
// holding it (`hold`), with the system's `error` where it gave one.
struct Lock {
    Handle handle = no_handle;
    enum class Failed { none, create, hold } failed = Failed::none;
    Error error = 0;
};
Lock lock_folder(const Folder& copies, std::uint32_t process);
void unlock_folder(const Folder& copies, std::uint32_t process, const Lock& lock);

// Whether the drop with the process id `owner` is still at work in the folder of copies `copies`:
// its lock is held. A lock that nobody holds is one that a drop left when it ended, and goes.
bool at_work(const Folder& copies, std::uint32_t owner);

// One name in a listed folder, as the walk takes it: a folder link is a link to a folder, or on
// Windows a junction; a `link` that the listing cannot tell (on Linux, every link) is a file
// whose link the walk follows by hand, to judge where it leads.
struct Entry {
    Path name;
    enum class Type { file, folder, folder_link, fifo, socket, device } type;
    bool link = false;
};

// What the listing of one folder gave: `opened` false when it could not be listed at all, with
// `error`; else its entries, and `error` when the listing ended before the last.
struct Listing {
    bool opened = true;
    Error error = 0;
    std::vector<Entry> entries;
};

// Lists the held `folder`.
Listing list_folder(const Folder& folder);

// A file or folder given to a drop, as the system finds it: `shown` as lines name it, `real`
// where it really is (links followed, for the rule of converted folders), and `type`; the folder
// given, or the folder of a file given, held open in `folder`, with the file's `name` in it; or
// `error`, about `shown`.
struct Given {
    Path shown, real;
    Folder folder;
    Path name;
    Entry::Type type = Entry::Type::file;
    Error error = 0;
};
Given look_up(const Path::value_type* argument);

}  // namespace drop

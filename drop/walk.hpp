// What a drop gives: the files to convert, each with the place of its copy, found in the files
// and folders the drop program is given.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "copy.hpp"
#include "system.hpp"

namespace drop {

// A folder given, or the folder of a file given: held open for the whole drop, so that every
// folder below it is found beneath it, never by a path walked again from outside. Its copies go
// to the folder "converted" in it, mirroring the folders below it.
struct Top {
    Folder folder;  // folder.path as lines name it
    Identity identity;
    std::uint32_t mode = 0777;    // its permission bits, which its folder of copies takes
    bool copies_by_link = false;  // "converted" in it was a link when the drop found it
    bool given = false;           // given itself, not only as the folder of a file given
};

// A path at `relative` below `top` as a window names it: from the name of the folder given, as
// tar and rsync name what they copy ("Sound/voices/a.wav"); whole below the folder of a file
// given alone, or the root. `relative` empty names the top itself.
Path brief_path(const Top& top, PathView relative);

// A folder that holds files to convert, as the walk listed it.
struct Source {
    std::uint32_t top;   // in Work::tops
    Path relative;       // below the top, empty for the top itself; the same below its copies
    Identity identity;   // the folder the walk listed: found otherwise later, it has changed
};

// One file to convert: its name in its folder. Its copy goes to the same name in the folder of
// the same path below its top's copies. A drop of 100,000 files holds 100,000 jobs, so a job
// holds one name and says where the rest is.
struct Job {
    Path name;
    std::uint32_t source;  // in Work::sources
    bool link;             // a link: followed by hand, and converted only where it leads beneath its top
    bool case_twin;        // the copy of a file before it takes the same place, letter case aside
    bool given = false;    // given by name: a link is followed wherever it leads
};

// A line about what yields no job: a file or folder given that is skipped or failed, counted as
// such, or a folder link that the walk does not enter, counted as neither.
struct Note {
    enum class Verdict { skipped, failed, not_entered } verdict;
    Path path;
    Path why;
    Path cause;  // of a failure: its why without the path, where the why names it
    Path brief;  // the path as a window names it (brief_path)
    bool notable = false;  // skipped, but the person must know: a link that leads outside
};

// A folder named "converted" that the walk passed: `name` in the folder at `relative` below a top;
// below the top, a folder that is no link, which alone is ever opened.
struct Met {
    std::uint32_t top;
    Path relative;
    Path name;
};

struct Work {
    std::vector<Job> jobs;  // in the order given, a folder's files sorted by name, no file twice
    std::vector<Top> tops;  // each folder once
    std::vector<Source> sources;
    std::vector<Note> notes;
    std::size_t folders = 0;  // folders that hold the jobs' files
    std::vector<Met> met;
    std::vector<Identity> copies;  // the folders of copies found, whose files are never converted
};

// The original of `job`, its copy's folder below its folder of copies, and both as lines name
// them: "/music/sub/take 1.wav", "sub".
inline const Source& source_of(const Work& work, const Job& job) { return work.sources[job.source]; }
Path original_path(const Work& work, const Job& job);
Path copy_path(const Work& work, const Job& job);  // "sub/take 1.wav", inside its folder of copies

// Where opening the folders of a path below a held folder stopped: `error` from the folder that
// could not be made (`making`) or opened, whose name ends at `end` in the path, and what is in
// its place where the system could say; 0 when every one could.
struct Below {
    Error error = 0;
    std::size_t end = 0;
    bool making = false;
    std::optional<Found::Kind> found;
};

// Opens the folder at `relative` below the held `base`, one folder at a time, each beneath the one
// above it and none through a link, and where `modes` is given adds the permission bits of each.
// Where `made` is given, each folder that is missing is made, with the bits that `modes` gives it
// (all where it gives none), and its path below `base` added to `made`.
Below open_below(const Folder& base, PathView relative, Folder& folder, std::vector<Path>* made = nullptr,
                 std::vector<std::uint32_t>* modes = nullptr);

// The folders of the last path opened below a held base, kept open so that the next path, which
// shares most of its folders when paths come in depth first order, opens only the folders it does
// not share: a deep tree costs an open for each folder, not one for each folder above each folder.
// At most `room` are held, a quarter of the descriptors left and no more than 1,024; deeper ones
// are opened from the deepest held.
struct Chain {
    Chain();
    Chain(const Chain&) = delete;
    Chain& operator=(const Chain&) = delete;
    ~Chain();
    std::vector<Folder> folders;
    std::vector<Path> names;
    std::size_t room;
};

// Opens the folder `relative` below `base` through `chain`, as open_below does, none through a
// link: 0, and the folder in `folder` (held by the chain, or where `own` the caller's to let go),
// or the error of the folder that could not be opened.
Error open_through(Chain& chain, const Folder& base, PathView relative, Folder& folder, bool& own);

// Where a link leads, as the walk and then the conversion judge it: to a file, a folder or
// anything else (`other`, what `found` says) beneath its top; outside its top (a link given by
// name may lead anywhere); into a folder of copies; or nowhere it can be followed (`broken`,
// with `error`, or nothing there). `followed` holds the folder it leads into.
struct Link {
    enum class Where { file, folder, other, outside, copies, broken } where = Where::broken;
    Error error = 0;
    Followed followed;
    Found found;
};
// `copies` are the identities of the folders of copies known.
Link judge_link(std::span<const Identity> copies, const Top& top, const Folder& folder, const Path& name, bool given);

// Why a file whose link leads outside its top, into a folder of copies or to no regular file is
// not converted, for its line: "a link that leads outside the folder given".
Path link_words(const Link& link);

// Adds what `argument` gives to `work`: a file, whatever its name; a folder, every file whose name
// ends in .wav in any letter case, at any depth, except in folders named "converted" and in folder
// links; and a note for whatever of it cannot be taken. A path inside a folder named "converted"
// gives nothing, however it is written: by its 8.3 name, through a link or in another case, and
// neither does a file link found in a folder that leads into one.
// The walk ends, where it is, once `stop` is set.
void take(const Path::value_type* argument, Work& work, const std::atomic<bool>& stop);

// Lets go of every folder that `work` holds.
void release(Work& work);

// How the file system orders two paths, letter case aside: below, at or above 0. The one of
// Windows asks the system, which folds as NTFS does; the POSIX one folds every letter that a
// case-insensitive mount folds, by Unicode's simple case folding (paths.hpp), and whether a name
// that the mount took for another is really the copy's own is asked of the mount itself.
using Compare = int (*)(PathView a, PathView b);
int compare_ignoring_case(PathView a, PathView b);

// The order of a folder's names, whatever order its listing gives (NTFS lists sorted, FAT and
// exFAT in the order of making): by name, letter case aside, then by case, so that two names that
// differ only in case stand together and the same one of them always comes first.
bool name_before(PathView a, PathView b, Compare compare_ignoring_case);
void sort_names(std::vector<Path>& names, Compare compare_ignoring_case);

// Keeps one job of each file given more than once, alone or in a folder given: the one whose
// copy goes to the outermost folder of copies, which holds the others. A file is known by its
// name in its folder, and the folder by its identity, however it was reached. Marks each case
// twin and counts the folders of the files. Portable, given the file system's comparison.
void finish(Work& work, Compare compare_ignoring_case);

}  // namespace drop

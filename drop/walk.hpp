// What a drop gives: the files to convert, each with the place of its copy, found in the files
// and folders the drop program is given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "copy.hpp"

namespace drop {

// One file to convert. Its copy goes to its folder of copies and, inside it, to the end of its
// path below the top of the folder that was dropped: the folder "converted" at that top,
// mirroring the file's place below it, or beside a file that was dropped on its own. A drop of
// 100,000 files holds 100,000 jobs, so a job holds one path and says where the others are.
struct Job {
    Path source;             // the original, full; on Windows in the extended form of every file call
    std::uint32_t copies;    // its folder of converted copies, in Work::copies
    std::uint32_t relative;  // where the copy's path inside that folder starts in `source`
    bool case_twin;          // the copy of a file before it takes the same place, letter case aside
};

// The copy's path inside its folder of copies: "sub\take 1.wav".
inline PathView relative(const Job& job) { return PathView(job.source).substr(job.relative); }

// A line about what yields no job: a file or folder given that is skipped or failed, counted as
// such, or a folder link that the walk does not enter, counted as neither.
struct Note {
    enum class Verdict { skipped, failed, not_entered } verdict;
    Path path;
    Path why;
};

struct Work {
    std::vector<Job> jobs;  // in the order given, a folder's files sorted by name, no file twice
    std::vector<Path> copies;  // the folders of converted copies, each once, like `source`
    std::vector<Note> notes;
    std::size_t folders = 0;          // folders that hold the jobs' files
    std::vector<Path> met;            // the folders named "converted" that the walk passed, like `source`
};

// Adds what `argument` gives to `work`: a file, whatever its name; a folder, every file whose name
// ends in .wav in any letter case, at any depth, except in folders named "converted" and in folder
// links; and a note for whatever of it cannot be taken. A path inside a folder named "converted"
// gives nothing, however it is written: by its 8.3 name, through a link or in another case, and
// neither does a file link found in a folder that leads into one.
void take(const Path::value_type* argument, Work& work);

// Adds the job of `source`, whose copy goes to the folder of copies `copies`, at the last
// `relative` characters of `source` inside it.
void add_job(Work& work, Path source, const Path& copies, std::size_t relative);

// How the file system orders two paths, letter case aside: below, at or above 0. The one of
// Windows asks the system, which folds as NTFS does; the POSIX one folds every letter that a
// case-insensitive mount folds, by Unicode's simple case folding (paths.hpp), and whether a name
// that the mount took for another is really the copy's own is asked of the mount itself.
using Compare = int (*)(PathView a, PathView b);
int compare_ignoring_case(PathView a, PathView b);

// The order of a folder's names, whatever order its listing gives (NTFS lists sorted, FAT and
// exFAT in the order of making): by name, letter case aside, then by case, so that two names that
// differ only in case stand together and the same one of them always comes first.
void sort_names(std::vector<Path>& names, Compare compare_ignoring_case);

// Keeps one job of each file given more than once, alone or in a folder given: the one whose
// copy goes to the outermost folder of copies, which holds the others. Marks each case twin and
// counts the folders of the files. Portable, given the file system's comparison.
void finish(Work& work, Compare compare_ignoring_case);

}  // namespace drop

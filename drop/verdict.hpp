// How a job of a drop ended, and the words of its line: the verdicts that a run of jobs gives,
// the same on every platform.
#pragma once

#include <optional>
#include <vector>

#include "copies.hpp"
#include "walk.hpp"

namespace drop {

enum class Verdict { converted, skipped, failed, not_done };

// How one job ended, as its line says it.
struct Ended {
    Verdict verdict;
    Path why;
    bool plain_wav = false;    // converted from a plain WAV file
    std::vector<Made> made{};  // the folders below its folder of copies that its job made
    Path cause{};              // of a failure: its why without the paths, shared by the files it failed
    bool has_copy = false;     // converted, or its copy was there already
    bool notable = false;      // no failure, but the person must know: a copy made again, or kept as its user changed it
};

// A failure's verdict, `why` its line's words and `cause` the same without its paths.
Ended failed(Path why, Path cause, std::vector<Made> made = {});

// A path inside a folder of copies as a line names it: "converted/sub/x.wav".
Path shown_in_copies(PathView relative);

// The verdict on a job whose copy's name is taken by the copy of its case twin, which is never
// made again in its place, whatever its size: none where the job is no twin, or where the name
// is spelled as its own in the folder of copies `copies`. A job marked as a twin alone is asked,
// so that a file whose folder the mount spells in another case, and that has no twin, finds its
// own copy.
std::optional<Ended> twins_copy(const Job& job, const Folder& copies, const Path& copy);

// The verdict on a job whose copy `copy` is there already: skipped, or a twin's failure.
Ended already(const Job& job, const Folder& copies, const Path& copy);

// What is in the place of a folder of copies below the top one that could not be opened, for a
// line: "converted/sub is a link, not a folder"; or the system's text; and its cause.
Ended not_a_folder(PathView shown, const Below& below);

// The verdict on a job whose copy ended at `outcome`, `temporary` its temporary copy in the
// folder of copies `copies`; `again` says what the copy it replaced was, where it replaced one.
Ended verdict(const Job& job, const Folder& copies, const Path& copy, const Outcome& outcome, const Path& temporary,
              const Path& again);

}  // namespace drop

// The folders of converted copies of a drop, the same on every platform: each made ready before
// the first copy (made where it is missing, as private as the folder it is in; never where it is
// another user's link or leads into the folders being converted; cleared of what drops that ended
// left there; and locked), and each ended after the last (the folders the drop made and left
// empty removed, the modes that would have kept it from writing given, its lock let go).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "system.hpp"
#include "walk.hpp"

namespace drop {

// The folder of converted copies of a top that this drop has made ready: leftovers removed, and
// its lock held until the drop ends; or why it cannot be used.
struct Copies {
    Folder folder;
    bool ready = false;  // made ready: it holds copies of this drop
    bool made = false;   // made by this drop
    Lock lock;
    Path problem;
    Path cause;  // of the problem, without its paths
    // Within which two times of writing are the same on its file system: a copy's time is its
    // original's as that file system keeps it.
    std::int64_t window = 2 * ticks_per_second;
};

// Makes the folder of copies of `top` ready for the drop `process`, and adds the temporary copies
// it removed to `removed`.
Copies make_ready(const Top& top, std::uint32_t process, std::size_t& removed);

// Clears the folder of copies `met`, which holds no job of this drop, of what drops that ended
// left there: returns the temporary copies removed.
std::size_t clear(const Work& work, const Met& met);

// A folder that this drop made below the folder of copies of `top`, at `relative`, for a copy
// of a folder whose permission bits are `mode`.
struct Made {
    std::uint32_t top;
    Path relative;
    std::uint32_t mode;
};

// Ends the folders of copies of `work` that this drop `process` made ready: removes each folder
// in `made` that holds nothing at the end, the deepest first, gives the others the modes of their
// originals, flushes what was renamed into each folder of copies and lets go of its lock. Not in
// a folder of copies where another drop is at work, which may be about to give a copy its name
// there. A folder that was there before the drop is never removed or changed. The folder of
// copies `keep` stays, held, for the caller to let go.
void end_copies(const Work& work, std::vector<Copies>& copies, std::vector<Made>& made, std::uint32_t process,
                std::uint32_t keep);

}  // namespace drop

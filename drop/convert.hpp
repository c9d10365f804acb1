// Converting copies: each file read and converted into a temporary copy in its folder of
// converted copies, on a few threads, and given its own name only once the copy is whole.
#pragma once

#include <atomic>
#include <cstddef>
#include <vector>

#include "pool.hpp"
#include "summary.hpp"
#include "walk.hpp"

namespace drop {

// A failure as the end of a drop groups it: its cause, the same words for every file it failed,
// and the path it failed.
struct Failure {
    Path cause;
    Path path;
    Path brief;  // the path as a window names it
    Path line;   // its whole line, as a program or a file reads it
};

// Converts a copy of the file of each job on `threads` threads, and writes one numbered line for
// each job as it ends: "converted", "skipped" (its copy exists) or "failed" with why, on standard
// error, each failure also added to `failures`. Every folder of copies that the jobs use, and
// every one the walk met, is first cleared of the temporary copies that drops which ended before
// their work left there, counted in `counts`. Once `stop` is set no file starts, the files at
// work are discarded, and what did not end is counted as not done. The folder of copies of each
// top that then holds a copy of one of its jobs, converted or there already, is added to
// `copies_in` as lines name it. Where anything failed, the first folder of copies that was made
// ready without a problem, in the order of the tops, stays and is left held in `kept`, for the
// report of the failures.
void convert(const Work& work, std::size_t threads, const std::atomic<bool>& stop, Counts& counts,
             std::vector<Failure>& failures, std::vector<Path>& copies_in, Folder& kept);

// The threads that convert the copies of `work` at once, at most `threads`: those that have runs
// of jobs to take, and no more than the descriptors left allow.
std::size_t threads_at_work(const Work& work, std::size_t threads);

}  // namespace drop

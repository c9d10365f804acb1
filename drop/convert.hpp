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

// Converts a copy of the file of each job on `threads` threads, and writes one numbered line for
// each job as it ends: "converted", "skipped" (its copy exists) or "failed" with why, on standard
// error, each failure also added to `failures` without its number. Every folder of copies that
// the jobs use, and every one the walk met, is first cleared of the temporary copies that drops which
// ended before their work left there. Once `stop` is set no file starts, the files at work are
// discarded, and what did not end is counted as not done.
void convert(const Work& work, std::size_t threads, const std::atomic<bool>& stop, Counts& counts,
             std::vector<Path>& failures);

}  // namespace drop

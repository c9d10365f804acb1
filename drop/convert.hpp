// Converting copies: each file read and converted into a temporary copy in its folder of
// converted copies, on a few threads, and given its own name only once the copy is whole.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "pool.hpp"
#include "summary.hpp"
#include "walk.hpp"

namespace drop {

// Converts a copy of the file of each job on `threads` threads, and writes one numbered line for
// each job as it ends: "converted", "skipped" (its copy exists) or "failed" with why, on standard
// error, each failure also added to `failures` without its number. Every folder of copies that
// the jobs use, and every one in `met`, is first cleared of the temporary copies that drops which
// ended before their work left there. Once `stop` is set no file starts, the files at work are
// discarded, and what did not end is counted as not done.
void convert(const std::vector<Job>& jobs, const std::vector<Path>& met, std::size_t threads,
             const std::atomic<bool>& stop, Counts& counts, std::vector<Path>& failures);

// The order of a conversion, the same on every platform, given each platform's own steps.

// Makes every folder of copies ready before any copy, from the calling thread, so that each is
// cleared once and no thread makes a copy in a folder that another is still clearing:
// `ready(copies)` gives the `Folder` of each folder the jobs use, kept in `folders`, and
// `clear(copies)` clears each other folder in `met`. Returns the index in `folders` of each job's.
template <class Folder, class Ready, class Clear>
std::vector<std::size_t> prepare_folders(const std::vector<Job>& jobs, const std::vector<Path>& met,
                                         std::vector<Folder>& folders, Ready ready, Clear clear) {
    const auto find = [&](const Path& copies) {
        return std::find_if(folders.begin(), folders.end(), [&](const Folder& f) { return f.path == copies; });
    };
    std::vector<std::size_t> folder_of(jobs.size());
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        auto const known = find(jobs[i].copies);
        folder_of[i] = static_cast<std::size_t>(known - folders.begin());
        if (known == folders.end()) folders.push_back(ready(jobs[i].copies));
    }
    for (const Path& copies : met) {
        if (find(copies) == folders.end()) clear(copies);
    }
    return folder_of;
}

// Runs `work(i, buffer)` for each job `i` on `threads` threads and hands each result to
// `report(i, result)` on the calling thread, as run_pool does, the case twins after all other
// jobs, so that the copy of the first of each pair exists when its twin starts. Returns how many
// jobs did not run because `stop` was set.
template <class Result, class Work, class Report>
std::size_t run_twins_last(const std::vector<Job>& jobs, std::size_t threads, const std::atomic<bool>& stop,
                           Work work, Report report) {
    std::size_t not_run = 0;
    for (bool const twins : {false, true}) {
        std::vector<std::size_t> phase;
        for (std::size_t i = 0; i < jobs.size(); ++i) {
            if (jobs[i].case_twin == twins) phase.push_back(i);
        }
        std::size_t const ran = run_pool<Result>(
            phase.size(), threads, stop,
            [&](std::size_t k, std::span<std::uint8_t> buffer) { return work(phase[k], buffer); },
            [&](std::size_t k, const Result& result) { report(phase[k], result); });
        not_run += phase.size() - ran;
    }
    return not_run;
}

}  // namespace drop

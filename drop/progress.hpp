// The progress of a drop as a person sees it on a terminal or a console: one row, redrawn in
// place, that says how many files of how many are done, what share that is, how many bytes were
// read and how fast, how long is left, and which folder is at work. Portable and pure, so that
// its fitting to the window is tested natively and fuzzed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace drop {

struct Progress {
    std::size_t done = 0, total = 0;  // files ended, of all
    std::uint64_t bytes = 0;          // read so far
    double seconds = 0;               // since the conversion began
};

// The row's words, in UTF-8, without the folder at work: "1234/10000 files  12%  45.6 MB  12.3
// MB/s  0:42 left", fitted to a window `width` columns wide. A row never fills its window's last
// column, after which some consoles start another: the words and, where `folder` is not 0, two
// spaces and the folder elided to `folder` columns take at most width - 1. What does not fit goes,
// the time left first, then the speed, the bytes and the share; the folder only takes what is left.
struct Row {
    std::string words;
    std::size_t folder = 0;
};
Row progress_row(const Progress& progress, std::size_t width);

// "45.6 MB": `bytes` in kB, MB or GB (of 1,000), with three digits at most before the point.
std::string size_words(std::uint64_t bytes);

}  // namespace drop

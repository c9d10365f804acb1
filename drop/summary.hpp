// The words of a drop's end, portable: how many files went which way, and which step of a copy
// failed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "copy.hpp"

namespace drop {

struct Counts {
    std::size_t converted = 0;
    std::size_t skipped = 0;
    std::size_t failed = 0;
    std::size_t not_done = 0;   // left when the drop was stopped
    std::size_t plain_wav = 0;  // of the converted: copies made of plain WAV files
    bool stopped = false;       // the drop was stopped, also when it had just ended its last job
};

// "Found 3 WAV files in 2 folders; converting 4 at a time.", with " and 2 more paths that are
// skipped or failed" before the semicolon for `others` files and folders given or met that the
// summary counts too, so that both count the same things.
std::string found(std::size_t files, std::size_t folders, std::size_t others, std::size_t threads);

// "3 converted, 1 skipped, 0 failed.", with ", 5 not done (stopped)" before the full stop when
// the drop was stopped, 0 not done when the stop came after the last file, and after it the number of copies made of plain WAV files, if any.
std::string summary(const Counts& counts);

// The failures repeated after the summary, where a long drop has not scrolled them away: at most
// this many, then a line that says how many more there were.
constexpr std::size_t recap_limit = 20;
std::string recap_heading(std::size_t failed);  // "1 file failed:", "3 files failed:"
std::string recap_more(std::size_t more);       // "… and 12 more"

// `n` with a comma between each group of three digits: "5,044".
std::string with_separators(std::uint64_t n);

// What a copy that was converted again replaced: "its copy was 0 of 5,044 bytes; made again".
std::string copy_again(std::uint64_t was, std::uint64_t size);

// What failed at `step`, as the line of a file says it before the system's text: "cannot read
// it". Empty for the steps that are no failure of the file.
std::string step_words(Outcome::Step step);

}  // namespace drop

// The words of a drop's end, portable: how many files went which way, and which step of a copy
// failed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "copy.hpp"

namespace drop {

struct Counts {
    std::size_t converted = 0;
    std::size_t skipped = 0;
    std::size_t failed = 0;
    std::size_t not_done = 0;   // left when the drop was stopped
    std::size_t plain_wav = 0;  // of the converted: copies made of plain WAV files
    bool stopped = false;       // the drop was stopped, also when it had just ended its last job
    std::size_t removed = 0;    // temporary copies that drops which ended before their work left
};

// "Found 3 WAV files in 2 folders; converting 2 at a time.", with " and 2 more paths that are
// skipped or failed" before the semicolon for `others` files and folders given or met that the
// summary counts too, so that both count the same things. Where `not_wav` of the files are not
// named .wav (given by name, and converted as asked) they are files, not WAV files, and say so:
// "Found 3 files in 1 folder (1 of them not named .wav, converted as asked)". The threads only
// where more than one converts; and "Found no WAV file" where there are none.
std::string found(std::size_t files, std::size_t not_wav, std::size_t folders, std::size_t others, std::size_t threads);

// "3 converted, 1 skipped, 0 failed.", with ", 5 not done (stopped)" before the full stop when
// the drop was stopped, 0 not done when the stop came after the last file, and after it the number of copies made of plain WAV files, if any.
std::string summary(const Counts& counts);

// What a drop program started with nothing to convert says (from a menu, or by a double click):
// what it does, and how to give it files in the file manager of Windows or of a Linux desktop.
enum class Desktop { explorer, dolphin };  // the file manager whose ways it names
std::string nothing_given(Desktop desktop);

// "Removed 2 temporary copies left by a drop that was closed or stopped."
std::string removed_words(std::size_t removed);

// Where the copies are: "Copies are in " before the one folder of copies, "Copies are in 3
// folders:" above a line for each.
std::string copies_heading(std::size_t folders);

// The end of a drop fits a console window as Windows opens it, above the wait for Enter: the
// failures grouped by cause, where the copies are and the counts. A line takes one row for each
// full width and one more, since a console may start a row after a line that fills one.
constexpr std::size_t screen_rows = 25, screen_columns = 80;
constexpr std::size_t rows_of(std::size_t columns) { return columns / screen_columns + 1; }
// The folders of copies named at most, and the paths of one cause of failure.
constexpr std::size_t folders_named = 3, paths_per_cause = 5;

std::string recap_heading(std::size_t failed, std::size_t causes);  // "1 failed:", "40 failed, for 3 reasons:"
std::string times(std::size_t count);                              // "  20 × ", before a cause
std::string other_causes(std::size_t causes);  // "for 5 more reasons, each said in its line above"
std::string recap_more(std::size_t more);      // "… and 12 more"

// How many paths each cause of failure shows, the causes `counts` failures each in the order they
// are shown, in at most `rows` rows: a path takes a row, and a cause that shows some of its paths
// but not all a row more for "… and 12 more". Given out one path for each cause in turn, at most
// paths_per_cause each, so that every cause shows some where the rows allow.
std::vector<std::size_t> paths_shown(std::span<const std::size_t> counts, std::size_t rows);

// `n` with a comma between each group of three digits: "5,044".
std::string with_separators(std::uint64_t n);

// What a copy that was converted again replaced: "its copy was 0 of 5,044 bytes; made again".
std::string copy_again(std::uint64_t was, std::uint64_t size);

// "Converting the WAV files in " before the name of a folder given, in a window.
std::string converting_in();

// Where the failures are kept, in the end: "The failures are kept in " before the file's path;
// or, where no folder of copies was made, that they are not; or else, before the system's text,
// that they could not be.
std::string kept_in();
std::string not_kept(bool no_folder);

// What is at a name, for a line that says so: "a file", "a link".
std::string_view kind_words(Found::Kind kind);

// What a copy made again because its original was written since replaced: "its original changed
// since its copy was made; made again".
std::string newer_again();

// What failed at `step`, as the line of a file says it before the system's text: "cannot read
// it". Empty for the steps that are no failure of the file.
std::string step_words(Outcome::Step step);

}  // namespace drop

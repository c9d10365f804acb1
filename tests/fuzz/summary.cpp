// Fuzz target: the words of a drop's end (drop/summary.cpp) for any counts. Each line reads back
// as the counts it was given, a count of one takes the singular and any other the plural, the
// stop is said exactly when there was one or something was not done, and no line holds a line
// break. The progress row fits any window.
#include <algorithm>
#include <cstring>

#include "fuzz.hpp"
#include "paths.hpp"
#include "progress.hpp"
#include "summary.hpp"

using namespace drop;

namespace {

// Reads "N word" from the start of `line`, N being `n`, with `one` after 1 and `many` after any
// other number; false when it is not there.
bool read_count(std::string_view& line, std::size_t n, std::string_view one, std::string_view many) {
    std::string const number = std::to_string(n) + " ";
    std::string_view const word = n == 1 ? one : many;
    if (!line.starts_with(number) || !line.substr(number.size()).starts_with(word)) return false;
    line.remove_prefix(number.size() + word.size());
    return true;
}

// Reads `text` from the start of `line`; false when it is not there.
bool read_text(std::string_view& line, std::string_view text) {
    if (!line.starts_with(text)) return false;
    line.remove_prefix(text.size());
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Eight counts of 8 bytes each, one below 256 taken modulo 4, so that 0, 1 and 2 come often;
    // and a last byte that says whether the drop was stopped.
    std::size_t n[8] = {};
    for (std::size_t i = 0; i < 8 && (i + 1) * 8 <= size; ++i) {
        std::uint64_t value = 0;
        std::memcpy(&value, data + i * 8, 8);
        n[i] = static_cast<std::size_t>(value >> 8 == 0 ? value % 4 : value);
    }
    bool const stopped = size > 64 && data[64] % 2 == 1;  // and from there on, the counts of causes

    // The first line: files, of them not named .wav (at most all), folders, other paths, threads.
    std::size_t const not_wav = std::min(n[1], n[0]);
    std::string const first = found(n[0], not_wav, n[2], n[3], n[4]);
    std::string_view line = first;
    holds(read_text(line, "Found "));
    if (n[0] == 0) {
        holds(read_text(line, "no WAV file"));
        if (n[3] != 0) {
            holds(read_text(line, "; ") && read_count(line, n[3], "path is", "paths are") &&
                  read_text(line, " skipped or failed"));
        }
    } else {
        holds((not_wav == 0 ? read_count(line, n[0], "WAV file", "WAV files") : read_count(line, n[0], "file", "files")) &&
              read_text(line, " in ") && read_count(line, n[2], "folder", "folders"));
        if (n[3] != 0) {
            holds(read_text(line, " and ") && read_count(line, n[3], "more path that is", "more paths that are") &&
                  read_text(line, " skipped or failed"));
        }
        if (not_wav != 0) {
            holds(n[0] == 1 ? read_text(line, " (not named .wav")
                            : read_text(line, " (") && read_text(line, std::to_string(not_wav)) &&
                                  read_text(line, " of them not named .wav"));
            holds(read_text(line, ", converted as asked)"));
        }
    }
    if (n[4] > 1) holds(read_text(line, "; converting ") && read_text(line, std::to_string(n[4])) && read_text(line, " at a time"));
    holds(line == ".");

    Counts const counts{n[4], n[5], n[6], n[7], n[0], stopped, 0};
    std::string const last = summary(counts);
    line = last;
    holds(read_count(line, n[4], "converted", "converted") && read_text(line, ", ") &&
          read_count(line, n[5], "skipped", "skipped") && read_text(line, ", ") &&
          read_count(line, n[6], "failed", "failed"));
    if (stopped || n[7] != 0) {
        holds(read_text(line, ", ") && read_count(line, n[7], "not done (stopped)", "not done (stopped)"));
    }
    holds(read_text(line, "."));
    if (n[0] != 0) {
        holds(read_text(line, " ") &&
              read_count(line, n[0], "copy was made of a plain WAV file, so it is nibble-swapped.",
                         "copies were made of plain WAV files, so they are nibble-swapped."));
    }
    holds(line.empty());

    // The heading of the failures: their number, and their causes' where more than one.
    std::size_t const causes = n[6] == 0 ? 0 : 1 + n[5] % n[6];
    std::string const recap = recap_heading(n[6], causes);
    std::string_view heading = recap;
    holds(read_text(heading, std::to_string(n[6]) + " failed"));
    if (causes > 1) holds(read_text(heading, ", for ") && read_count(heading, causes, "reason", "reasons"));
    holds(heading == ":");
    holds(recap_more(n[7]) == "\u2026 and " + std::to_string(n[7]) + " more");
    holds(removed_words(n[7]) == "Removed " + std::to_string(n[7]) +
                                     (n[7] == 1 ? " temporary copy" : " temporary copies") +
                                     " left by a drop that was closed or stopped.");

    // The paths of each cause: at most each cause's count and paths_per_cause, in the rows given,
    // a cause that shows some but not all taking a row more; and no cause could show one more.
    std::vector<std::size_t> cause_counts;
    for (std::size_t i = 64; i < size && cause_counts.size() < 12; ++i) cause_counts.push_back(1 + data[i] % 30);
    std::size_t const rows = n[5] % 40;
    std::vector<std::size_t> const shown = paths_shown(cause_counts, rows);
    holds(shown.size() == cause_counts.size());
    const auto rows_for = [&](std::size_t i, std::size_t k) { return k == 0 ? 0 : k + (k < cause_counts[i] ? 1 : 0); };
    std::size_t used = 0;
    for (std::size_t i = 0; i < shown.size(); ++i) {
        holds(shown[i] <= cause_counts[i] && shown[i] <= paths_per_cause);
        used += rows_for(i, shown[i]);
    }
    holds(used <= rows);
    for (std::size_t i = 0; i < shown.size(); ++i) {
        if (shown[i] < std::min(cause_counts[i], paths_per_cause)) {
            holds(rows_for(i, shown[i] + 1) - rows_for(i, shown[i]) > rows - used);
        }
    }

    using Step = Outcome::Step;
    auto const step = static_cast<Step>(size % (static_cast<std::size_t>(Step::changed) + 1));
    std::string const words = step_words(step);
    bool const failure = step != Step::done && step != Step::not_regular && step != Step::linked &&
                         step != Step::taken && step != Step::stopped;
    holds(words.empty() == !failure && !words.ends_with(".") && words.find('\n') == std::string::npos);
    if (step == Step::too_short) holds(words.find(std::to_string(kept_bytes) + " bytes") != std::string::npos);
    for (const std::string& text : {first, last}) holds(text.find('\n') == std::string::npos);

    // The progress row in a window of any width: never the last column, the files first where
    // they fit, a folder only with a dozen columns of its own.
    std::size_t const done = std::min(n[5], n[6]), width = size > 65 ? data[65] : 80;
    Progress const progress{done, n[6], n[7], static_cast<double>(n[2] % 100000) / 10};
    Row const row = progress_row(progress, width);
    std::size_t const row_columns = columns(std::string_view(row.words)) + (row.folder == 0 ? 0 : 2 + row.folder);
    holds(width == 0 ? row.words.empty() && row.folder == 0 : row_columns <= width - 1);
    holds(row.folder == 0 || row.folder >= 12);
    std::string const files = std::to_string(done) + "/" + std::to_string(n[6]) + " files";
    holds(width == 0 || files.size() > width - 1 || row.words.starts_with(files));
    holds(row.words.find('\n') == std::string::npos);
    return 0;
}

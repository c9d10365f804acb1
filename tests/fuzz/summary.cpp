// Fuzz target: the words of a drop's end (drop/summary.cpp) for any counts. Each line reads back
// as the counts it was given, a count of one takes the singular and any other the plural, the
// stop is said exactly when there was one or something was not done, and no line holds a line
// break.
#include <cstring>

#include "fuzz.hpp"
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
    bool const stopped = size > 64 && data[64] % 2 == 1;

    std::string const first = found(n[0], n[1], n[2], n[3]);
    std::string_view line = first;
    holds(read_text(line, "Found ") && read_count(line, n[0], "WAV file", "WAV files") && read_text(line, " in ") &&
          read_count(line, n[1], "folder", "folders"));
    if (n[2] != 0) {
        holds(read_text(line, " and ") && read_count(line, n[2], "more path that is", "more paths that are") &&
              read_text(line, " skipped or failed"));
    }
    holds(read_text(line, "; converting ") && read_text(line, std::to_string(n[3])) && line == " at a time.");

    Counts const counts{n[4], n[5], n[6], n[7], n[0], stopped};
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

    std::string const recap = recap_heading(n[6]);
    std::string_view heading = recap;
    holds(read_count(heading, n[6], "file failed:", "files failed:") && heading.empty());
    holds(recap_more(n[7]) == "\u2026 and " + std::to_string(n[7]) + " more");

    using Step = Outcome::Step;
    auto const step = static_cast<Step>(size % (static_cast<std::size_t>(Step::changed) + 1));
    std::string const words = step_words(step);
    bool const failure = step != Step::done && step != Step::inside_copies && step != Step::not_regular &&
                         step != Step::taken && step != Step::stopped;
    holds(words.empty() == !failure && !words.ends_with(".") && words.find('\n') == std::string::npos);
    if (step == Step::too_short) holds(words.find(std::to_string(kept_bytes) + " bytes") != std::string::npos);
    for (const std::string& text : {first, last}) holds(text.find('\n') == std::string::npos);
    return 0;
}

#include "summary.hpp"

namespace drop {

namespace {

std::string count(std::size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

std::string found(std::size_t files, std::size_t folders, std::size_t others, std::size_t threads) {
    std::string line = "Found " + count(files, "WAV file", "WAV files") + " in " + count(folders, "folder", "folders");
    if (others != 0) {
        line += " and " + count(others, "more path that is", "more paths that are") + " skipped or failed";
    }
    return line + "; converting " + std::to_string(threads) + " at a time.";
}

std::string summary(const Counts& counts) {
    std::string line = std::to_string(counts.converted) + " converted, " + std::to_string(counts.skipped) +
                       " skipped, " + std::to_string(counts.failed) + " failed";
    if (counts.stopped || counts.not_done != 0) {
        line.append(", ").append(std::to_string(counts.not_done)).append(" not done (stopped)");
    }
    line += ".";
    if (counts.plain_wav == 1) line += " 1 copy was made of a plain WAV file, so it is nibble-swapped.";
    if (counts.plain_wav > 1) {
        line.append(" ").append(std::to_string(counts.plain_wav));
        line += " copies were made of plain WAV files, so they are nibble-swapped.";
    }
    return line;
}

std::string recap_heading(std::size_t failed) {
    return std::to_string(failed) + (failed == 1 ? " file failed:" : " files failed:");
}

// Appended piece by piece: GCC 12 warns of an overlapping copy, wrongly, for a literal + a
// temporary string in 32-bit builds.
std::string recap_more(std::size_t more) {
    std::string line = "\u2026 and ";
    return line.append(std::to_string(more)).append(" more");
}

std::string with_separators(std::uint64_t n) {
    std::string digits = std::to_string(n);
    for (std::size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, 1, ',');
    return digits;
}

std::string copy_again(std::uint64_t was, std::uint64_t size) {
    std::string words = "its copy was ";
    return words.append(with_separators(was)).append(" of ").append(with_separators(size)).append(" bytes; made again");
}

std::string step_words(Outcome::Step step) {
    using Step = Outcome::Step;
    switch (step) {
    case Step::open: return "cannot open it";
    case Step::read: return "cannot read it";
    case Step::too_short:
    {
        std::string words = "shorter than ";
        return words.append(std::to_string(kept_bytes)).append(" bytes, so there is nothing to convert");
    }
    case Step::create: return "cannot make the copy";
    case Step::write: return "cannot write the copy";
    case Step::flush: return "cannot get the copy onto the disk";
    case Step::close: return "cannot finish writing the copy";
    case Step::rename: return "cannot give the copy its name";
    case Step::changed: return "the file changed while it was being converted; no copy kept";
    case Step::done:
    case Step::inside_copies:
    case Step::not_regular:
    case Step::taken:
    case Step::stopped: break;
    }
    return {};
}

}  // namespace drop

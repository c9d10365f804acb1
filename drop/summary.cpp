#include "summary.hpp"

#include "menu.hpp"

namespace drop {

namespace {

std::string count(std::size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

std::string found(std::size_t files, std::size_t not_wav, std::size_t folders, std::size_t others, std::size_t threads) {
    std::string line = "Found ";
    line += files == 0     ? std::string("no WAV file")
            : not_wav == 0 ? count(files, "WAV file", "WAV files")
                           : count(files, "file", "files");
    if (files != 0) line += " in " + count(folders, "folder", "folders");
    if (others != 0) {
        line += files == 0 ? "; " + count(others, "path is", "paths are")
                           : " and " + count(others, "more path that is", "more paths that are");
        line += " skipped or failed";
    }
    if (not_wav != 0) {
        line += files == 1 ? std::string(" (not named .wav, converted as asked)")
                           : " (" + std::to_string(not_wav) + " of them not named .wav, converted as asked)";
    }
    if (threads > 1) line += "; converting " + std::to_string(threads) + " at a time";
    return line + ".";
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

std::string nothing_given(Desktop desktop) {
    std::string words = "Nothing to convert: no file or folder was given.\n"
                        "This program makes converted copies of WAV files; the originals are never\n"
                        "changed. To use it, ";
    if (desktop == Desktop::explorer) {
        words += "drag a folder or WAV files onto drop-files-here.exe in\n"
                 "File Explorer, or right-click them and choose\n\"" +
                 std::string(menu_entry) + "\", which this program adds to the right-click\n"
                 "menu when started on its own, by a double click.\n";
    } else {
        words += "right-click a folder or WAV files in your file manager and\n"
                 "choose \"Make converted copies of WAV files (quoxel)\" (in GNOME Files,\n"
                 "under Scripts), or run in a terminal:\n"
                 "  quoxel-drop FOLDER-OR-FILE...\n";
    }
    return words + "The copies go to a folder \"converted\" inside each folder given, its\n"
                   "folders mirrored there, or beside a file given on its own.";
}

std::string removed_words(std::size_t removed) {
    return "Removed " + count(removed, "temporary copy", "temporary copies") + " left by a drop that was closed or stopped.";
}

std::string copies_heading(std::size_t folders) {
    return folders == 1 ? "Copies are in " : "Copies are in " + std::to_string(folders) + " folders:";
}

std::string recap_heading(std::size_t failed, std::size_t causes) {
    std::string line = std::to_string(failed) + " failed";
    if (causes > 1) line += ", for " + std::to_string(causes) + " reasons";
    return line + ":";
}

std::string times(std::size_t count) { return "  " + std::to_string(count) + " \u00D7 "; }

std::string other_causes(std::size_t causes) {
    if (causes == 1) return "for 1 more reason, said in its line above";
    return "for " + std::to_string(causes) + " more reasons, each said in its line above";
}

// Appended piece by piece: GCC 12 warns of an overlapping copy, wrongly, for a literal + a
// temporary string in 32-bit builds.
std::string recap_more(std::size_t more) {
    std::string line = "\u2026 and ";
    return line.append(std::to_string(more)).append(" more");
}

std::vector<std::size_t> paths_shown(std::span<const std::size_t> counts, std::size_t rows) {
    std::vector<std::size_t> shown(counts.size(), 0);
    // The rows of a cause that shows `n` of its paths.
    const auto rows_for = [&](std::size_t cause, std::size_t n) { return n == 0 ? 0 : n + (n < counts[cause] ? 1 : 0); };
    for (std::size_t round = 0; round < paths_per_cause; ++round) {
        for (std::size_t cause = 0; cause < counts.size(); ++cause) {
            std::size_t const n = shown[cause];
            if (n != round || n == counts[cause]) continue;
            std::size_t const more = rows_for(cause, n + 1) - rows_for(cause, n);
            if (more > rows) continue;
            rows -= more;
            ++shown[cause];
        }
    }
    return shown;
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

std::string converting_in() { return "Converting the WAV files in "; }

std::string kept_in() { return "The failures are kept in "; }

std::string not_kept(bool no_folder) {
    return no_folder ? "The failures are not kept in a file, as no folder of copies was made."
                     : "The failures could not be kept in a file";
}

std::string newer_again() { return "its original changed since its copy was made; made again"; }

std::string_view kind_words(Found::Kind kind) {
    switch (kind) {
    case Found::Kind::file: return "a file";
    case Found::Kind::folder: return "a folder";
    case Found::Kind::link: return "a link";
    case Found::Kind::fifo: return "a FIFO";
    case Found::Kind::socket: return "a socket";
    case Found::Kind::device: return "a device";
    case Found::Kind::missing: break;
    }
    return "nothing";
}

std::string step_words(Outcome::Step step) {
    using Step = Outcome::Step;
    switch (step) {
    case Step::open: return "cannot open it";
    case Step::busy: return "another program has it open to write; a later drop converts it";
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
    case Step::not_regular:
    case Step::linked:
    case Step::taken:
    case Step::stopped: break;
    }
    return {};
}

}  // namespace drop

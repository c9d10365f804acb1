// A drop from its arguments to its summary, the same on every platform: the walk, the first
// line, the notes, the conversion, and its end: the failures by cause, where the copies are and
// the counts last.
#include "drop.hpp"

#include <algorithm>
#include <cstdlib>
#include <tuple>

#include "convert.hpp"
#include "output.hpp"
#include "paths.hpp"
#include "report.hpp"
#include "system.hpp"
#include "walk.hpp"

namespace drop {

namespace {

// The end of a drop, right above a wait for Enter, within one screen however many failed: the
// failures grouped by cause, the most frequent first, each with as many of its paths as the rows
// allow (`brief`: as a window names them); where the failures are kept; the temporary copies
// removed; where the copies are; and the counts last. Every failure was said in its own line
// above, whole.
std::vector<Path> end_lines(std::vector<Failure>& failures, const std::vector<Path>& copies_in, const Counts& counts,
                            bool brief, const Path& kept) {
    std::vector<Path> last, said;
    if (!kept.empty()) last.push_back(kept);
    if (counts.removed != 0) last.push_back(text(removed_words(counts.removed)));
    if (copies_in.size() == 1) last.push_back(text(copies_heading(1)) + copies_in[0]);
    if (copies_in.size() > 1) {
        last.push_back(text(copies_heading(copies_in.size())));
        for (std::size_t i = 0; i < copies_in.size() && i < folders_named; ++i) last.push_back(text("  ") + copies_in[i]);
        if (copies_in.size() > folders_named) last.push_back(text("  " + recap_more(copies_in.size() - folders_named)));
    }
    last.push_back(text(summary(counts)));
    std::size_t used = 1;  // by the wait for Enter
    for (const Path& line : last) used += rows_of(columns(line));

    if (!failures.empty()) {
        std::sort(failures.begin(), failures.end(),
                  [](const Failure& a, const Failure& b) { return std::tie(a.cause, a.path) < std::tie(b.cause, b.path); });
        struct Cause {
            std::size_t first, count;
        };
        std::vector<Cause> causes;
        for (std::size_t i = 0; i < failures.size(); ++i) {
            if (i == 0 || failures[i].cause != failures[i - 1].cause) causes.push_back({i, 0});
            ++causes.back().count;
        }
        std::stable_sort(causes.begin(), causes.end(), [](const Cause& a, const Cause& b) { return a.count > b.count; });
        std::vector<Path> lines;
        for (const Cause& cause : causes) lines.push_back(text(times(cause.count)) + failures[cause.first].cause);

        // As many causes as fit, each in its line, and one line for the others where not all do.
        std::size_t const rows = used + 1 < screen_rows ? screen_rows - used - 1 : 0;  // below the heading
        std::size_t named = causes.size(), taken = 0;
        std::size_t others = 0;  // failures of the causes not named
        for (;;) {
            taken = 0;
            for (std::size_t i = 0; i < named; ++i) taken += rows_of(columns(lines[i]));
            if (named < causes.size()) {
                others = 0;
                for (std::size_t i = named; i < causes.size(); ++i) others += causes[i].count;
                taken += rows_of(columns(text(times(others) + other_causes(causes.size() - named))));
            }
            if (taken <= rows || named == 0) break;
            --named;
        }
        std::vector<std::size_t> counts_named;
        for (std::size_t i = 0; i < named; ++i) counts_named.push_back(causes[i].count);
        std::vector<std::size_t> const shown = paths_shown(counts_named, rows > taken ? rows - taken : 0);

        said.push_back(text(recap_heading(failures.size(), causes.size())));
        Path const indent = text("    ");
        for (std::size_t i = 0; i < named; ++i) {
            said.push_back(lines[i]);
            for (std::size_t j = 0; j < shown[i]; ++j) {
                const Failure& failure = failures[causes[i].first + j];
                said.push_back(indent + elided(PathView(brief ? failure.brief : failure.path), screen_columns - 1 - indent.size()));
            }
            if (shown[i] != 0 && shown[i] < causes[i].count) said.push_back(indent + text(recap_more(causes[i].count - shown[i])));
        }
        if (named < causes.size()) said.push_back(text(times(others) + other_causes(causes.size() - named)));
    }
    said.insert(said.end(), last.begin(), last.end());
    return said;
}

// Keeps the failures' whole lines and the end in a new file in the folder of copies `folder`,
// named by the date and time, and says so in the end's words; where no folder of copies was
// made, or the file cannot be written, the end says that they are not kept.
Path keep_failures(std::vector<Failure>& failures, const std::vector<Path>& copies_in, const Counts& counts,
                   const Folder& folder) {
    if (folder.handle == no_handle) return text(not_kept(true));
    std::vector<Path> lines;
    for (const Failure& failure : failures) lines.push_back(failure.line);
    Path name;
    Path const kept_words = text(kept_in());
    // The end as it stands in the file, with the file's own name, which is known once it is made.
    const auto content = [&](const Path& at) {
        std::vector<Path> all = lines;
        all.push_back(Path());
        std::vector<Path> const end = end_lines(failures, copies_in, counts, false, kept_words + at);
        all.insert(all.end(), end.begin(), end.end());
        return all;
    };
    Error const error = write_report(system_files(), folder, content, name);
    if (error != 0) return text(not_kept(false)) + text(": ") + system_text(error);
    return kept_words + readable(join(folder.path, name));
}

}  // namespace

Counts drop_files(std::span<const Path::value_type* const> arguments, const std::atomic<bool>& stop) {
    // Count first, so that the progress can say how far it has got.
    Work work;
    for (const Path::value_type* const argument : arguments) {
        if (!stop.load()) take(argument, work, stop);
    }
    finish(work, compare_ignoring_case);
    std::size_t const threads = threads_at_work(work, threads_for(processors(), std::getenv("QUOXEL_DROP_THREADS")));
    std::size_t const counted_notes = static_cast<std::size_t>(std::count_if(
        work.notes.begin(), work.notes.end(), [](const Note& note) { return note.verdict != Note::Verdict::not_entered; }));
    std::size_t const not_wav = static_cast<std::size_t>(
        std::count_if(work.jobs.begin(), work.jobs.end(), [](const Job& job) { return !is_wav(PathView(job.name)); }));
    // In a window, each folder given is named once, its path elided to fit the row if it must, and
    // every path below it from its name.
    if (window()) {
        std::size_t named = 0;
        for (const Top& top : work.tops) {
            if (!top.given || named++ == folders_named) continue;
            Path const name = readable(brief_path(top, {})), whole = readable(top.folder.path);
            Path const words = text(converting_in());
            // " (", ")" and the window's last column, left free as every row leaves it: a console
            // that wraps there would put a blank row under a row that fills it.
            std::size_t const around = columns(PathView(words)) + columns(PathView(name)) + 4;
            say(words + name + text(" (") +
                elided(PathView(whole), window_columns() > around + 12 ? window_columns() - around : 12) + text(")"));
        }
    }
    say(text(found(work.jobs.size(), not_wav, work.folders, counted_notes, threads)));

    Counts counts;
    std::vector<Failure> failures;
    for (const Note& note : work.notes) {
        Path const why = text(" (") + note.why + text(")");
        Path const line = note.path + why, brief = (window() ? note.brief : note.path) + why;
        switch (note.verdict) {
        case Note::Verdict::skipped:
            say(text("skipped: ") + brief, false, !note.notable);
            ++counts.skipped;
            break;
        case Note::Verdict::failed:
            say(text("failed: ") + brief, true);
            failures.push_back({note.cause, note.path, note.brief, text("failed: ") + line});
            ++counts.failed;
            break;
        case Note::Verdict::not_entered: say(text("not entered: ") + brief, false, true); break;
        }
    }
    flush_lines();
    std::vector<Path> copies_in;
    Folder kept;  // the folder of copies where the failures are kept
    // Stopped while it counted: nothing is made, and nothing was converted.
    if (stop.load()) counts.not_done += work.jobs.size();
    else convert(work, threads, stop, counts, failures, copies_in, kept);
    release(work);
    counts.stopped = stop.load();
    Path const kept_words = failures.empty() ? Path() : keep_failures(failures, copies_in, counts, kept);
    close_folder(kept);
    show_progress({});
    for (const Path& line : end_lines(failures, copies_in, counts, window(), kept_words)) say(line);
    flush_lines();
    return counts;
}

}  // namespace drop

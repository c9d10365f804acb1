// A drop from its arguments to its summary, the same on every platform: the walk, the first
// line, the notes, the conversion, the failures once more and the counts last.
#include "drop.hpp"

#include <algorithm>
#include <cstdlib>

#include "convert.hpp"
#include "output.hpp"
#include "system.hpp"
#include "walk.hpp"

namespace drop {

Counts drop_files(std::span<const Path::value_type* const> arguments, const std::atomic<bool>& stop) {
    // Count first, so that the progress can say how far it has got.
    Work work;
    for (const Path::value_type* const argument : arguments) take(argument, work);
    finish(work, compare_ignoring_case);
    std::size_t const threads = threads_for(processors(), std::getenv("QUOXEL_DROP_THREADS"));
    std::size_t const counted_notes = static_cast<std::size_t>(std::count_if(
        work.notes.begin(), work.notes.end(), [](const Note& note) { return note.verdict != Note::Verdict::not_entered; }));
    say(text(found(work.jobs.size(), work.folders, counted_notes, threads)));

    Counts counts;
    std::vector<Path> failures;
    for (const Note& note : work.notes) {
        Path const line = note.path + text(" (") + note.why + text(")");
        switch (note.verdict) {
        case Note::Verdict::skipped:
            say(text("skipped: ") + line);
            ++counts.skipped;
            break;
        case Note::Verdict::failed:
            say(text("failed: ") + line, true);
            failures.push_back(text("failed: ") + line);
            ++counts.failed;
            break;
        case Note::Verdict::not_entered: say(text("not entered: ") + line); break;
        }
    }
    flush_lines();
    convert(work, threads, stop, counts, failures);
    release(work);
    counts.stopped = stop.load();

    // The failures once more, by path, and the counts last, right above a wait for Enter, so
    // that they stay in view however many failed.
    if (!failures.empty()) {
        std::sort(failures.begin(), failures.end());
        say(text(recap_heading(failures.size())));
        for (std::size_t i = 0; i < failures.size() && i < recap_limit; ++i) say(text("  ") + failures[i]);
        if (failures.size() > recap_limit) say(text("  " + recap_more(failures.size() - recap_limit)));
    }
    say(text(summary(counts)));
    flush_lines();
    return counts;
}

}  // namespace drop

// quoxel-drop [--wait] FILE-OR-FOLDER...: the drop program for Linux shells and desktops. Each
// file it is given, and each .wav file at any depth of each folder it is given, is converted into
// a copy in a folder "converted": beside a file given on its own, and at the top of a folder
// given, mirroring its tree. The original is never changed, and a file whose copy exists already
// is skipped, so that a second run never converts anything back. Names pass through as the bytes
// the kernel keeps.
//
// The portable parts are those of the Windows program (copy.cpp, pool.hpp, plan.cpp,
// summary.cpp, paths.cpp); Linux's own are:
//   quoxel-drop.cpp     the options and the order of the work
//   walk_posix.cpp      what a run gives: the files, and where their copies go
//   convert_posix.cpp   folders of copies made ready and locked, and the jobs run on a few threads
//   files_posix.cpp     the file calls of a copy
//   output_posix.cpp    lines, readable names, system texts, signals, the wait for Enter
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>

#include "convert.hpp"
#include "output_posix.hpp"
#include "pool.hpp"
#include "summary.hpp"
#include "walk.hpp"

namespace {

constexpr std::string_view usage = "usage: quoxel-drop [--wait] FILE-OR-FOLDER...";

// How many files are converted at once.
std::size_t threads() {
    return drop::threads_for(std::thread::hardware_concurrency(), std::getenv("QUOXEL_DROP_THREADS"));
}

std::string count(std::size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

constexpr std::string_view help = R"(Makes converted copies of WAV files. Each FILE given, and each .wav file in a
FOLDER given or in any folder below it, is converted into a copy in a folder
"converted": beside a file given on its own, and at the top of a folder given,
with its folders mirrored. The originals are never changed, and a file whose
copy is in "converted" already is skipped, so a second run does no harm.

  --wait     wait for Enter at the end, in a terminal (the desktop entry's way
             of keeping its window open)
  --help     show this help
  --version  show the version

Exit status: 0 when every file was converted or skipped, 1 when one failed,
and 128 and the signal's number when a signal stopped it (130 for Ctrl+C).)";

}  // namespace

int main(int argc, char* argv[]) {
    bool wait = false;
    int first = 1;
    for (; first < argc && argv[first][0] == '-' && argv[first][1] != '\0'; ++first) {
        std::string_view const option = argv[first];
        if (option == "--") {
            ++first;
            break;
        }
        if (option == "--help") {
            drop::say(usage);
            drop::say(help);
            return 0;
        }
        if (option == "--version") {
            drop::say("quoxel-drop " QUOXEL_VERSION);
            return 0;
        }
        if (option != "--wait") {
            drop::say("quoxel-drop: unknown option " + drop::readable(option), true);
            drop::say(usage, true);
            return 1;
        }
        wait = true;
    }
    if (first == argc) {
        // Started from a menu or a desktop with nothing dropped on it: it says what it does.
        if (!wait) {
            drop::say(usage, true);
            return 1;
        }
        drop::say(usage);
        drop::say(help);
        drop::wait_for_enter();
        return 0;
    }
    const std::atomic<bool>& stop = drop::stop_on_signals();

    // Count first, so that the progress can say how far it has got.
    drop::Work work;
    for (int i = first; i < argc; ++i) drop::take(argv[i], work);
    drop::finish(work, drop::compare_ignoring_case);
    std::size_t const at_once = threads();
    drop::say("Found " + count(work.jobs.size(), "WAV file", "WAV files") + " in " +
              count(work.folders, "folder", "folders") + "; converting " + std::to_string(at_once) + " at a time.");

    drop::Counts counts;
    std::vector<std::string> failures;
    for (const drop::Note& note : work.notes) {
        std::string const line = note.path + " (" + note.why + ")";
        switch (note.verdict) {
        case drop::Note::Verdict::skipped:
            drop::say("skipped: " + line);
            ++counts.skipped;
            break;
        case drop::Note::Verdict::failed:
            drop::say("failed: " + line, true);
            failures.push_back("failed: " + line);
            ++counts.failed;
            break;
        case drop::Note::Verdict::not_entered: drop::say("not entered: " + line); break;
        }
    }
    drop::convert(work.jobs, work.met, at_once, stop, counts, failures);

    drop::say(drop::summary(counts));
    if (!failures.empty()) {
        drop::say(drop::recap_heading(failures.size()));
        for (std::size_t i = 0; i < failures.size() && i < drop::recap_limit; ++i) drop::say("  " + failures[i]);
        if (failures.size() > drop::recap_limit) {
            drop::say("  " + drop::recap_more(failures.size() - drop::recap_limit));
        }
    }
    drop::flush_lines();
    // After Ctrl+C too the window stays until Enter, so that the summary can be read; not once
    // the window is gone (SIGHUP) or the system asks the program to end (SIGTERM).
    int const signal = drop::stopping_signal();
    if (wait && (signal == 0 || signal == SIGINT)) drop::wait_for_enter();
    if (signal != 0) return 128 + signal;  // as a shell reports a program that the signal ended
    return counts.failed == 0 ? 0 : 1;
}

// quoxel-drop [--wait] [--list] FILE-OR-FOLDER...: the drop program for Linux shells and desktops. Each
// file it is given, and each .wav file at any depth of each folder it is given, is converted into
// a copy in a folder "converted": beside a file given on its own, and at the top of a folder
// given, mirroring its tree. The original is never changed, and a file whose copy exists already
// is skipped, so that a second run never converts anything back. Names pass through as the bytes
// the kernel keeps.
//
// The order of the work, the walk, the conversion and every word of a line are the portable
// parts of the Windows program (drop.cpp and what it uses); Linux's own are:
//   quoxel-drop.cpp     the options, the signals' statuses and the wait for Enter
//   walk_posix.cpp      the listing of a folder, the look-up of a path given
//   files_posix.cpp     the file calls of a copy, the questions asked of the file system, the locks
//   output_posix.cpp    lines, readable names, system texts, signals, the wait for Enter
#include <sys/resource.h>

#include <atomic>
#include <csignal>
#include <span>
#include <string_view>

#include "drop.hpp"
#include "output.hpp"
#include "output_posix.hpp"

namespace {

constexpr std::string_view usage = "usage: quoxel-drop [--wait] [--list] FILE-OR-FOLDER...";

constexpr std::string_view help = R"(Makes converted copies of WAV files. Each FILE given, and each .wav file in a
FOLDER given or in any folder below it, is converted into a copy in a folder
"converted": beside a file given on its own, and at the top of a folder given,
with its folders mirrored. The originals are never changed, and a file whose
copy is in "converted" already is skipped, so a second run does no harm.

  --wait     wait for Enter at the end, in a terminal (the desktop entry's way
             of keeping its window open)
  --list     a line for each file, with its whole path, in a terminal too (as
             when the output goes to a file or a program), instead of the
             progress and a line only for what needs you
  --help     show this help
  --version  show the version

Exit status: 0 when every file was converted or skipped, 1 when one failed,
and 128 and the signal's number when a signal stopped it (130 for Ctrl+C).)";

// The options, the order of the work, and the status: every line is written out before the end.
int run(int argc, char* argv[]) {
    bool wait = false, list = false;
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
        if (option == "--list") {
            list = true;
            continue;
        }
        if (option != "--wait") {
            drop::say("quoxel-drop: unknown option " + drop::readable(option), true);
            drop::say(usage, true);
            return 1;
        }
        wait = true;
    }
    drop::set_window(drop::on_terminal() && !list);
    if (first == argc) {
        // Started from a menu or a desktop with nothing dropped on it: it says what it does.
        if (!wait) {
            drop::say(usage, true);
            return 1;
        }
        drop::say(drop::nothing_given(drop::Desktop::dolphin));
        drop::wait_for_enter();
        return 0;
    }
    const std::atomic<bool>& stop = drop::stop_on_signals();

    drop::Counts const counts =
        drop::drop_files(std::span<const char* const>(argv + first, static_cast<std::size_t>(argc - first)), stop);
    // After Ctrl+C too the window stays until Enter, so that the summary can be read; not once
    // the window is gone (SIGHUP) or the system asks the program to end (SIGTERM).
    // The status agrees with the last line: a signal after it, once the work is done, is none.
    int const signal = counts.stopped ? drop::stopping_signal() : 0;
    if (wait && (signal == 0 || signal == SIGINT)) drop::wait_for_enter();
    if (signal != 0) return 128 + signal;  // as a shell reports a program that the signal ended
    return counts.failed == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char* argv[]) {
    drop::open_standard_streams();
    // As many open files as this user may have: a drop holds each folder it is given open for its
    // whole run, and desktops often start programs with a low soft limit.
    if (rlimit files{}; getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }
    int const status = run(argc, argv);
    drop::flush_lines();
    return status;
}

// drop-files-here FILE-OR-FOLDER...: quoxel for Windows users, who drop files and folders on a
// program rather than type commands. Each file it is given, and each .wav file at any depth of
// each folder it is given, is converted into a copy in a folder "converted": beside a file given
// on its own, and at the top of a folder given, mirroring its tree. The original is never
// changed, and a file whose copy exists already is skipped, so that a second drop never converts
// anything back.
//
// Names pass through as UTF-16 from the wide command line to the wide file calls, each of which
// takes the extended form of the path (\\?\), so that no length and no name Windows allows stops
// it; text becomes UTF-8 only where it is written to a file or a pipe.
//
//   drop-files-here.cpp  the help, and the stop and the wait of a console window
//   drop.cpp             the order of the work: find the files, convert them, say how it went
//   walk.cpp             what a drop gives: the files, and where their copies go
//   plan.cpp             the jobs made final: each file once, case twins marked
//   convert.cpp          folders of copies made ready, and the jobs run on a few threads
//   copy.cpp             one converted copy, read and written once
//   pool.hpp             the threads, and the lines written by one of them
//   summary.cpp          the words of the end
//   menu.cpp             the right-click entries of File Explorer, offered when started alone
//   paths.cpp            the decisions about paths and names
// are portable, the same on Linux; Windows' own calls are in
//   walk_windows.cpp     the listing of a folder, the look-up of a path given
//   files_windows.cpp    the file calls of a copy, the questions asked of the file system, the locks
//   output_windows.cpp   lines, system texts, the window's title, Ctrl+C, the wait for Enter
//   explorer_windows.cpp the registry keys and the Send to shortcut of the right-click entries
#include <atomic>
#include <span>

#include "drop.hpp"
#include "output.hpp"
#include "output_windows.hpp"

int wmain(int argc, wchar_t* argv[]) {
    drop::open_standard_streams();
    if (argc < 2) {
        // Double-clicked, with nothing dropped on it: how to use it, and in a window of its own
        // the offer of the right-click entries.
        drop::say(drop::text(drop::nothing_given(drop::Desktop::explorer)));
        drop::flush_lines();
        if (drop::alone_in_window() && drop::offer_menu_in_window()) drop::wait_if_alone_in_window();
        return 0;
    }
    std::atomic<bool> stop{false};
    drop::stop_on_console_events(stop);
    drop::set_window(drop::on_terminal());

    drop::Counts const counts = drop::drop_files(std::span<const wchar_t* const>(argv + 1, static_cast<std::size_t>(argc - 1)), stop);
    drop::cleaned_up();
    drop::wait_if_alone_in_window();
    // As the last line says: not a Ctrl+C after it, or while the window waits for Enter.
    if (counts.stopped) return 130;  // as a shell reports a program that Ctrl+C ended
    return counts.failed == 0 ? 0 : 1;
}

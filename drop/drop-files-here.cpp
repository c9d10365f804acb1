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
//   drop-files-here.cpp  the order of the work: find the files, convert them, say how it went
//   walk_windows.cpp     what a drop gives: the files, and where their copies go
//   plan.cpp             the jobs made final: each file once, case twins marked (portable)
//   convert_windows.cpp  folders of copies made ready, and the jobs run on a few threads
//   copy.cpp             one converted copy, read and written once (portable)
//   files_windows.cpp    the file calls of a copy
//   pool.hpp             the threads, and the lines written by one of them (portable)
//   summary.cpp          the words of the end (portable)
//   output_windows.cpp   lines, system texts, the window's title, Ctrl+C, the wait for Enter
//   paths.cpp            the decisions about paths and names (portable)
#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <string>

#include "convert.hpp"
#include "output_windows.hpp"
#include "pool.hpp"
#include "summary.hpp"
#include "walk.hpp"

namespace {

// How many files are converted at once.
std::size_t threads() {
    return drop::threads_for(GetActiveProcessorCount(ALL_PROCESSOR_GROUPS), std::getenv("QUOXEL_DROP_THREADS"));
}

void say(const std::wstring& line) { drop::write(STD_OUTPUT_HANDLE, line + L"\r\n"); }

std::wstring count(std::size_t n, const wchar_t* one, const wchar_t* many) {
    return std::to_wstring(n) + L" " + (n == 1 ? one : many);
}

}  // namespace

int wmain(int argc, wchar_t* argv[]) {
    if (argc < 2) {
        say(L"drop-files-here.exe makes converted copies of WAV files.");
        say(L"Drop files or folders on it: each file dropped, and each .wav file in a dropped");
        say(L"folder or in any folder below it, is converted into a copy in a folder");
        say(L"\"converted\": beside a file dropped on its own, and at the top of a dropped");
        say(L"folder, with its folders mirrored. The originals are never changed, and a file");
        say(L"whose copy is in \"converted\" already is skipped, so a second drop does no harm.");
        say(L"From a Command Prompt: drop-files-here.exe \"C:\\path\\to\\file or folder\" ...");
        drop::wait_if_alone_in_window();
        return 0;
    }
    std::atomic<bool> stop{false};
    drop::stop_on_console_events(stop);

    // Count first, so that the progress can say how far it has got.
    drop::Work work;
    for (int i = 1; i < argc; ++i) drop::take(argv[i], work);
    drop::finish(work, drop::compare_ignoring_case);
    std::size_t const at_once = threads();
    say(L"Found " + count(work.jobs.size(), L"WAV file", L"WAV files") + L" in " +
        count(work.folders, L"folder", L"folders") + L"; converting " + std::to_wstring(at_once) + L" at a time.");

    drop::Counts counts;
    std::vector<std::wstring> failures;
    for (const drop::Note& note : work.notes) {
        std::wstring const line = note.path + L" (" + note.why + L")";
        switch (note.verdict) {
        case drop::Note::Verdict::skipped:
            say(L"skipped: " + line);
            ++counts.skipped;
            break;
        case drop::Note::Verdict::failed:
            drop::write(STD_ERROR_HANDLE, L"failed: " + line + L"\r\n");
            failures.push_back(L"failed: " + line);
            ++counts.failed;
            break;
        case drop::Note::Verdict::not_entered: say(L"not entered: " + line); break;
        }
    }
    drop::convert(work.jobs, work.met, at_once, stop, counts, failures);

    say(drop::from_utf8(drop::summary(counts)));
    if (!failures.empty()) {
        say(drop::from_utf8(drop::recap_heading(failures.size())));
        for (std::size_t i = 0; i < failures.size() && i < drop::recap_limit; ++i) say(L"  " + failures[i]);
        if (failures.size() > drop::recap_limit)
            say(L"  " + drop::from_utf8(drop::recap_more(failures.size() - drop::recap_limit)));
    }
    drop::cleaned_up();
    bool const stopped = stop;  // not a Ctrl+C while it waits for Enter, after the work
    drop::wait_if_alone_in_window();
    if (stopped) return 130;  // as a shell reports a program that Ctrl+C ended
    return counts.failed == 0 ? 0 : 1;
}

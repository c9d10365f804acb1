// drop-files-here FILE-OR-FOLDER...: quoxel for Windows users, who drop files and folders on a
// program rather than type commands. Each file it is given, and each .wav file at any depth of
// each folder it is given, is copied into a folder "converted" and converted there by the
// quoxel.exe that stands beside this program: beside a file given on its own, and at the top of
// a folder given, mirroring its tree. The original is never changed, and a file whose copy exists
// already is skipped, so that a second drop never converts anything back.
//
// Names pass through as UTF-16 from the wide command line to the wide file calls, each of which
// takes the extended form of the path (\\?\), so that no length and no name Windows allows stops
// it; text becomes UTF-8 only where it is written to a file or a pipe.
//
//   drop-files-here.cpp  the order of the work: find the files, convert them, say how it went
//   walk.cpp             what a drop gives: the files, and where their copies go
//   convert.cpp          copies converted by quoxel.exe, several at a time
//   output.cpp           lines, system texts, the window's title, the wait for Enter
//   paths.cpp            the decisions that need no system call, tested on every platform
#include <windows.h>

#include <string>

#include "convert.hpp"
#include "output.hpp"
#include "paths.hpp"
#include "walk.hpp"

namespace {

// This program's own path; empty when the system cannot say.
std::wstring own_path() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD const length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return {};
        if (length < path.size()) return path.substr(0, length);
        path.resize(2 * path.size());
    }
}

// How many copies are converted at once. A small file costs mostly the start of a process, and
// starts overlap well beyond the number of processors, while the processors bound the conversion
// of large files; two runs per processor keeps both busy.
std::size_t runs_at_once() {
    DWORD const processors = GetActiveProcessorCount(ALL_PROCESSOR_GROUPS);
    return 2 * (processors == 0 ? 1 : std::size_t{processors});
}

void say(const std::wstring& line) { drop::write(STD_OUTPUT_HANDLE, line + L"\r\n"); }

std::wstring count(std::size_t n, const wchar_t* one, const wchar_t* many) {
    return std::to_wstring(n) + L" " + (n == 1 ? one : many);
}

}  // namespace

int wmain(int argc, wchar_t* argv[]) {
    std::wstring const self = own_path();
    std::wstring const program = self.empty() ? L"drop-files-here.exe" : std::wstring(drop::last_component(self));
    std::wstring const tool = drop::join(drop::parent(self), L"quoxel.exe");

    if (argc < 2) {
        say(program + L" makes converted copies of WAV files, with the quoxel.exe beside it.");
        say(L"Drop files or folders on it: each file dropped, and each .wav file in a dropped");
        say(L"folder or in any folder below it, is copied into a folder \"converted\" and");
        say(L"converted there: beside a file dropped on its own, and at the top of a dropped");
        say(L"folder, with its folders mirrored. The originals are never changed, and a file");
        say(L"whose copy is in \"converted\" already is skipped, so a second drop does no harm.");
        say(L"From a Command Prompt: \"" + program + L"\" \"C:\\path\\to\\file or folder\" ...");
        drop::wait_if_alone_in_window();
        return 0;
    }
    if (self.empty() || GetFileAttributesW(drop::extended(tool).c_str()) == INVALID_FILE_ATTRIBUTES) {
        drop::write(STD_ERROR_HANDLE,
                    L"quoxel.exe is not beside " + program + L": unpack the whole zip into one folder.\r\n");
        drop::wait_if_alone_in_window();
        return 1;
    }

    // Count first, so that the progress can say how far it has got.
    drop::Work work;
    for (int i = 1; i < argc; ++i) drop::take(argv[i], work);
    drop::finish(work);
    std::size_t const at_once = runs_at_once();
    say(L"Found " + count(work.jobs.size(), L"WAV file", L"WAV files") + L" in " +
        count(work.folders, L"folder", L"folders") + L"; converting " + std::to_wstring(at_once) + L" at a time.");

    drop::Counts counts;
    for (const drop::Note& note : work.notes) {
        switch (note.verdict) {
        case drop::Note::Verdict::skipped:
            say(L"skipped: " + note.path + L" (" + note.why + L")");
            ++counts.skipped;
            break;
        case drop::Note::Verdict::failed:
            drop::write(STD_ERROR_HANDLE, L"failed: " + note.path + L" (" + note.why + L")\r\n");
            ++counts.failed;
            break;
        case drop::Note::Verdict::not_entered: say(L"not entered: " + note.path + L" (" + note.why + L")"); break;
        }
    }
    drop::convert(work.jobs, tool, at_once, counts);

    say(std::to_wstring(counts.converted) + L" converted, " + std::to_wstring(counts.skipped) + L" skipped, " +
        std::to_wstring(counts.failed) + L" failed.");
    drop::wait_if_alone_in_window();
    return counts.failed == 0 ? 0 : 1;
}

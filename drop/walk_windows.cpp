#include "walk.hpp"

#include <windows.h>

#include <algorithm>
#include <utility>

#include "files_windows.hpp"
#include "output_windows.hpp"
#include "paths.hpp"

namespace drop {

namespace {

void note(Work& work, Note::Verdict verdict, std::wstring path, std::wstring why) {
    work.notes.push_back({verdict, std::move(path), std::move(why)});
}

// The path that `fill` writes: the path calls that take a buffer say first how large it must be,
// with a buffer of none, then fill one of that size. Empty, with the error in `error`, when
// either call fails. Asking first also keeps clear of Wine 8, which fills a buffer of exactly
// 32768 characters with garbage.
template <class Fill>
std::wstring asked(Fill fill, DWORD& error) {
    DWORD const size = fill(nullptr, 0);
    std::wstring path(size, L'\0');
    DWORD const length = size == 0 ? 0 : fill(path.data(), size);
    error = GetLastError();
    path.resize(length < size ? length : 0);
    return path;
}

// The full path of `argument`, from the current folder (of its drive, for "Z:f.wav").
std::wstring full_path(const wchar_t* argument, DWORD& error) {
    return asked([&](wchar_t* room, DWORD size) { return GetFullPathNameW(argument, size, room, nullptr); }, error);
}

// `full` with each 8.3 name replaced by its long name; empty, with the error in `error`, when a
// component does not exist. A short path is asked for without the extended prefix: Wine 8
// expands no 8.3 name in an extended path, and Explorer gives 8.3 names only to keep a path short.
std::wstring long_path(const std::wstring& full, DWORD& error) {
    std::wstring const query = full.size() < MAX_PATH ? full : extended(full);
    return shown(asked([&](wchar_t* room, DWORD size) { return GetLongPathNameW(query.c_str(), room, size); }, error));
}



}  // namespace

int compare_ignoring_case(std::wstring_view a, std::wstring_view b) {
    return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) -
           CSTR_EQUAL;
}

namespace {

// Name order, letter case aside, then by case: two names that differ only in case stand together.
bool before(const std::wstring& a, const std::wstring& b) {
    int const order = compare_ignoring_case(a, b);
    return order < 0 || (order == 0 && a < b);
}

// Lists the folder `top` (extended; `top_shown` as lines name it) and every folder below it, and
// adds a job for each WAV file found. The folders still to list are kept in a list, not on the
// stack, so that no depth of folders can exhaust it.
void walk(const std::wstring& top, const std::wstring& top_shown, Work& work) {
    std::wstring const copies = join(top, L"converted");
    std::size_t const jobs_before = work.jobs.size();
    std::vector<std::wstring> pending{L""};  // relative to the top
    while (!pending.empty()) {
        std::wstring const relative = std::move(pending.back());
        pending.pop_back();
        std::wstring const folder = relative.empty() ? top : join(top, relative);
        std::wstring const folder_shown = relative.empty() ? top_shown : join(top_shown, relative);

        WIN32_FIND_DATAW entry;
        HANDLE const listing = FindFirstFileExW(join(folder, L"*").c_str(), FindExInfoBasic, &entry,
                                                FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
        if (listing == INVALID_HANDLE_VALUE) {
            // An empty root has no entry at all, not even "." and "..".
            if (GetLastError() != ERROR_FILE_NOT_FOUND) {
                note(work, Note::Verdict::failed, folder_shown,
                     L"cannot list the folder: " + system_text(GetLastError()));
            }
            continue;
        }
        std::vector<std::wstring> wavs, folders;
        do {
            std::wstring const name = entry.cFileName;
            if (name == L"." || name == L"..") continue;
            bool const link = (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
            if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
                if (is_wav(name)) wavs.push_back(name);
            } else if (is_converted_folder(name)) {
                // Used whatever it is, a mount point or a link too: its leftovers are cleared.
                work.met.push_back(join(folder, name));
            } else if (link) {
                // A symbolic link or a junction may lead out of the tree, or round in a loop.
                note(work, Note::Verdict::not_entered, join(folder_shown, name), L"a folder link");
            } else {
                folders.push_back(join(relative, name));
            }
        } while (FindNextFileW(listing, &entry));
        DWORD const error = GetLastError();
        FindClose(listing);
        if (error != ERROR_NO_MORE_FILES) {
            note(work, Note::Verdict::failed, folder_shown, L"cannot list the whole folder: " + system_text(error));
        }

        std::sort(wavs.begin(), wavs.end(), before);
        for (const std::wstring& name : wavs) {
            work.jobs.push_back({join(folder, name), join(folder_shown, name), copies, join(relative, name), false});
        }
        std::sort(folders.begin(), folders.end(), before);
        pending.insert(pending.end(), std::make_move_iterator(folders.rbegin()),
                       std::make_move_iterator(folders.rend()));
    }
    if (work.jobs.size() == jobs_before) {
        note(work, Note::Verdict::failed, top_shown, L"no .wav file in this folder or in a folder below it");
    }
}

}  // namespace

void take(const wchar_t* argument, Work& work) {
    if (*argument == L'\0')
        return note(work, Note::Verdict::failed, L"\"\"", L"an empty argument names no file or folder");
    DWORD error = 0;
    std::wstring const full = full_path(argument, error);
    if (full.empty()) return note(work, Note::Verdict::failed, argument, system_text(error, argument));
    std::wstring const path = long_path(full, error);
    if (path.empty()) return note(work, Note::Verdict::failed, full, system_text(error, full));
    std::wstring const source = extended(path);
    DWORD const attributes = GetFileAttributesW(source.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return note(work, Note::Verdict::failed, path, system_text(GetLastError(), path));
    }
    bool const folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (inside_converted(path, folder) || inside_converted(final_path(source), folder)) {
        return note(work, Note::Verdict::skipped, path,
                    folder ? L"a folder of converted copies" : L"a converted copy itself");
    }
    if (folder) return walk(source, path, work);
    work.jobs.push_back(
        {source, path, join(parent(source), L"converted"), std::wstring(last_component(source)), false});
}

}  // namespace drop

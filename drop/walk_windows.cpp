// The listing of a folder and the look-up of a path given, on Windows: names pass as UTF-16,
// and every call takes the extended form of a path.
#include <windows.h>

#include "files_windows.hpp"
#include "output.hpp"
#include "paths.hpp"
#include "system.hpp"
#include "walk.hpp"

namespace drop {

namespace {

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

// A folder link is a symbolic link or a junction to a folder: a reparse point.
Listing list_folder(const Path& folder, bool) {
    Listing listing;
    WIN32_FIND_DATAW entry;
    HANDLE const found = FindFirstFileExW(join(folder, L"*").c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch,
                                          nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (found == INVALID_HANDLE_VALUE) {
        // An empty root has no entry at all, not even "." and "..".
        if (GetLastError() != ERROR_FILE_NOT_FOUND) listing = {false, GetLastError(), {}};
        return listing;
    }
    do {
        std::wstring_view const name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        bool const link = (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        Entry::Type const type = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ? Entry::Type::file
                                 : link                                                 ? Entry::Type::folder_link
                                                                                        : Entry::Type::folder;
        listing.entries.push_back({Path(name), type});
    } while (FindNextFileW(found, &entry));
    DWORD const error = GetLastError();
    FindClose(found);
    if (error != ERROR_NO_MORE_FILES) listing.error = error;
    return listing;
}

// The path as a user writes it, each 8.3 name long, and its extended form for the calls.
// A folder given as "D:\" by a batch file or a shortcut arrives as D:\" (a backslash before a
// quote keeps the quote), and no Windows name holds a quote: the path is the argument without it.
Given look_up(const wchar_t* argument) {
    Given given;
    DWORD error = 0;
    std::wstring written = argument;
    if (written.size() > 1 && written.ends_with(L'"')) written.pop_back();
    std::wstring const full = full_path(written.c_str(), error);
    if (full.empty()) return {{}, written, {}, Entry::Type::file, error};
    std::wstring const path = long_path(full, error);
    if (path.empty()) return {{}, full, {}, Entry::Type::file, error};
    given.shown = path;
    given.source = extended(path);
    DWORD const attributes = GetFileAttributesW(given.source.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        given.error = GetLastError();
        return given;
    }
    given.type = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? Entry::Type::folder : Entry::Type::file;
    given.real = final_path(given.source);
    return given;
}

}  // namespace drop

// The listing of a folder and the look-up of a path given, on Windows: names pass as UTF-16. A
// path given is looked up once, in its extended form, so that no length and no name Windows
// allows stops it; everything below it is found through the handle of the folder it gives.
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

// Listed through the folder's handle. A folder link is a symbolic link or a junction to a folder,
// and a file link a symbolic link to a file: reparse points that stand for another name.
Listing list_folder(const Folder& folder) {
    Listing listing;
    alignas(LONGLONG) unsigned char buffer[64 * 1024];
    FILE_INFO_BY_HANDLE_CLASS which = FileIdBothDirectoryRestartInfo;
    for (;;) {
        if (!GetFileInformationByHandleEx(reinterpret_cast<HANDLE>(folder.handle), which, buffer, sizeof buffer)) {
            DWORD const error = GetLastError();
            if (error == ERROR_NO_MORE_FILES) break;
            // An empty root has no entry at all, not even "." and "..".
            if (error == ERROR_FILE_NOT_FOUND && which == FileIdBothDirectoryRestartInfo) break;
            if (which == FileIdBothDirectoryRestartInfo) listing.opened = false;
            listing.error = error;
            break;
        }
        which = FileIdBothDirectoryInfo;
        for (std::size_t at = 0;;) {
            auto const* const entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(buffer + at);
            std::wstring_view const name(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
            if (name != L"." && name != L"..") {
                // The listing gives a reparse point's tag in place of the size of its extended
                // attributes.
                bool const link = stands_for_name(entry->FileAttributes, entry->EaSize);
                bool const directory = (entry->FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
                listing.entries.push_back({Path(name),
                                           !directory ? Entry::Type::file
                                           : link     ? Entry::Type::folder_link
                                                      : Entry::Type::folder,
                                           !directory && link});
            }
            if (entry->NextEntryOffset == 0) break;
            at += entry->NextEntryOffset;
        }
    }
    return listing;
}

std::vector<Path> names_in(const Folder& folder) {
    std::vector<Path> names;
    for (Entry& entry : list_folder(folder).entries) names.push_back(std::move(entry.name));
    return names;
}

// The path as a user writes it, each 8.3 name long, and its extended form for the calls.
// A folder given as "D:\" by a batch file or a shortcut arrives as D:\" (a backslash before a
// quote keeps the quote), and no Windows name holds a quote: the path is the argument without it.
// The folder given, a link to it followed, or the folder of the file given, is held from here on.
Given look_up(const wchar_t* argument) {
    Given given;
    DWORD error = 0;
    std::wstring written = argument;
    if (written.size() > 1 && written.ends_with(L'"')) written.pop_back();
    std::wstring const full = full_path(written.c_str(), error);
    if (full.empty()) return {written, {}, {}, {}, Entry::Type::file, error};
    std::wstring const path = long_path(full, error);
    if (path.empty()) return {full, {}, {}, {}, Entry::Type::file, error};
    given.shown = path;
    std::wstring const source = extended(path);
    DWORD const attributes = GetFileAttributesW(source.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        given.error = GetLastError();
        return given;
    }
    bool const folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    given.type = folder ? Entry::Type::folder : Entry::Type::file;
    std::wstring const held = folder ? source : std::wstring(parent(std::wstring_view(source)));
    HANDLE const opened = CreateFileW(held.c_str(), FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (opened == INVALID_HANDLE_VALUE) {
        given.error = GetLastError();
        return given;
    }
    given.folder = {reinterpret_cast<Handle>(opened), held, true, volume_of(opened), false, {}};
    ask_file_system(given.folder);
    if (!folder) given.name = std::wstring(last_component(std::wstring_view(source)));
    // Where it really is, for the rule of converted folders: a file given may be a link into one.
    HANDLE const target = folder ? opened
                                 : CreateFileW(source.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                               nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (target != INVALID_HANDLE_VALUE) given.real = final_path(target);
    if (!folder && target != INVALID_HANDLE_VALUE) CloseHandle(target);
    return given;
}

}  // namespace drop

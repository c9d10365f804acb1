// The file calls of a drop on Windows, and its questions of the file system. Every call names a
// file by its name in a folder that the drop holds open, through the system's own way of opening
// a name relative to a folder's handle (NtCreateFile with a root folder, and a rename into a
// folder given by its handle), so that no folder swapped for a junction can lead a call
// elsewhere; and each folder is held without sharing delete access, so that nobody can rename,
// remove or replace it until the drop lets go. A drop marks each folder of copies it uses with a
// lock file that it keeps open without sharing, and that goes when its last handle closes, also
// when the drop is killed.
#include "files_windows.hpp"

#include <windows.h>
#include <winternl.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "paths.hpp"
#include "system.hpp"

namespace drop {

namespace {

HANDLE handle_of(Handle file) { return reinterpret_cast<HANDLE>(file); }
Handle handle_from(HANDLE file) { return reinterpret_cast<Handle>(file); }

// The access that holds a folder open: to list it and to open names in it. Without a data access
// a handle takes no part in sharing, and would hold nothing.
constexpr ACCESS_MASK folder_access = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;

// ERROR_STOPPED_ON_SYMLINK, which MinGW's headers lack: a name that is a link where none may be.
constexpr DWORD stopped_on_link = 681;

// Where the open `file` really is; empty when the system cannot say. The size is asked first, so
// that a path of any length fits.
std::wstring final_path_of(HANDLE file) {
    DWORD const size = GetFinalPathNameByHandleW(file, nullptr, 0, FILE_NAME_NORMALIZED);
    std::wstring path(size, L'\0');
    DWORD const length = size == 0 ? 0 : GetFinalPathNameByHandleW(file, path.data(), size, FILE_NAME_NORMALIZED);
    path.resize(length < size ? length : 0);
    return path;
}

// The version of the open `file`, and its attributes: its size, time of writing and number on its
// volume, each asked of the open file alone. Not GetFileInformationByHandle, which also asks the
// volume's serial number, through Wine's mount manager at over a millisecond a file: a file's
// versions are compared on one volume.
Error version_of(HANDLE file, Version& version, DWORD* attributes = nullptr) {
    FILE_BASIC_INFO basic;
    FILE_STANDARD_INFO standard;
    FILE_INTERNAL_INFORMATION internal;
    IO_STATUS_BLOCK status;
    if (!GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic) ||
        !GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof standard)) {
        return GetLastError();
    }
    NTSTATUS const result = NtQueryInformationFile(file, &status, &internal, sizeof internal, FileInternalInformation);
    if (!NT_SUCCESS(result)) return RtlNtStatusToDosError(result);
    version = {static_cast<std::uint64_t>(standard.EndOfFile.QuadPart), basic.LastWriteTime.QuadPart,
               static_cast<std::uint64_t>(internal.IndexNumber.QuadPart), 0};
    if (attributes != nullptr) *attributes = basic.FileAttributes;
    return 0;
}

}  // namespace

Error open_in(const Folder& folder, std::wstring_view name, ACCESS_MASK access, ULONG share, ULONG disposition,
              ULONG options, HANDLE& opened) {
    UNICODE_STRING string;
    string.Buffer = const_cast<wchar_t*>(name.data());
    string.Length = string.MaximumLength = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    OBJECT_ATTRIBUTES object;
    InitializeObjectAttributes(&object, &string, OBJ_CASE_INSENSITIVE, handle_of(folder.handle), nullptr);
    IO_STATUS_BLOCK status;
    NTSTATUS const result = NtCreateFile(&opened, access | SYNCHRONIZE, &object, &status, nullptr, FILE_ATTRIBUTE_NORMAL,
                                         share, disposition, options | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
    if (NT_SUCCESS(result)) return 0;
    opened = INVALID_HANDLE_VALUE;
    return RtlNtStatusToDosError(result);
}

std::wstring final_path(HANDLE file) { return final_path_of(file); }

namespace {

// The ntdll call that lists a folder's entries matching a name; MinGW's headers lack it.
extern "C" NTSTATUS NTAPI NtQueryDirectoryFile(HANDLE file, HANDLE event, PIO_APC_ROUTINE routine, PVOID context,
                                               PIO_STATUS_BLOCK status, PVOID information, ULONG length,
                                               FILE_INFORMATION_CLASS which, BOOLEAN single, PUNICODE_STRING name,
                                               BOOLEAN restart);

// A name's entry in the listing of its folder: what the folder says it is, which a handle opened
// on it may not show (Wine follows a Unix link even when asked for the reparse point itself).
struct Listed {
    DWORD attributes = 0;
    DWORD tag = 0;
    std::uint64_t id = 0, size = 0;
    std::int64_t written = 0;
};

// Asks the listing of the held `folder` for `name`, through a handle of its own, so that no other
// listing of the folder, on another thread, moves its place.
Error listed(const Folder& folder, const Path& name, Listed& entry) {
    HANDLE self = INVALID_HANDLE_VALUE;
    if (Error const error = open_in(folder, L"", FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    FILE_OPEN, FILE_DIRECTORY_FILE | FILE_OPEN_FOR_BACKUP_INTENT, self)) {
        return error;
    }
    alignas(LONGLONG) unsigned char buffer[sizeof(FILE_ID_BOTH_DIR_INFO) + 520 * sizeof(wchar_t)];
    UNICODE_STRING pattern;
    pattern.Buffer = const_cast<wchar_t*>(name.data());
    pattern.Length = pattern.MaximumLength = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    IO_STATUS_BLOCK status;
    NTSTATUS const result = NtQueryDirectoryFile(self, nullptr, nullptr, nullptr, &status, buffer, sizeof buffer,
                                                 FileIdBothDirectoryInformation, TRUE, &pattern, TRUE);
    CloseHandle(self);
    if (!NT_SUCCESS(result)) {
        Error const error = RtlNtStatusToDosError(result);
        return error == ERROR_NO_MORE_FILES ? ERROR_FILE_NOT_FOUND : error;
    }
    auto const* const found = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(buffer);
    entry = {found->FileAttributes, found->EaSize, static_cast<std::uint64_t>(found->FileId.QuadPart),
             static_cast<std::uint64_t>(found->EndOfFile.QuadPart), found->LastWriteTime.QuadPart};
    return 0;
}

// Whether the open `file`, opened as `name` in `folder`, really is elsewhere: reached through a
// link that the listing of `folder` showed as a file. Asked where the folder's own place is known.
bool elsewhere(const Folder& folder, const Path& name, HANDLE file) {
    if (folder.real.empty()) return false;
    std::wstring const real = final_path_of(file), expected = join(folder.real, name);
    return !real.empty() && CompareStringOrdinal(real.data(), static_cast<int>(real.size()), expected.data(),
                                                 static_cast<int>(expected.size()), TRUE) != CSTR_EQUAL;
}

}  // namespace

std::uint64_t volume_of(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION information;
    return GetFileInformationByHandle(file, &information) ? information.dwVolumeSerialNumber : 0;
}

namespace {

// The file `from` in `from_folder`, open as `open` or else opened for the rename alone, takes the
// name `to` in `to_folder`, renamed into that folder given by its handle.
Error rename_in(const Folder& from_folder, const Path& from, HANDLE open, const Folder& to_folder, const Path& to,
                bool replace) {
    HANDLE file = open;
    if (open == INVALID_HANDLE_VALUE) {
        if (Error const error = open_in(from_folder, from, DELETE, 0, FILE_OPEN, FILE_NON_DIRECTORY_FILE, file)) {
            return error;
        }
    }
    std::size_t const size = offsetof(FILE_RENAME_INFORMATION, FileName) + to.size() * sizeof(wchar_t);
    std::string information(size, '\0');
    auto* const rename = reinterpret_cast<FILE_RENAME_INFORMATION*>(information.data());
    rename->ReplaceIfExists = replace ? TRUE : FALSE;
    rename->RootDirectory = handle_of(to_folder.handle);
    rename->FileNameLength = static_cast<ULONG>(to.size() * sizeof(wchar_t));
    std::memcpy(rename->FileName, to.data(), to.size() * sizeof(wchar_t));
    IO_STATUS_BLOCK status;
    NTSTATUS const result =
        NtSetInformationFile(file, &status, rename, static_cast<ULONG>(size), FileRenameInformation);
    if (open == INVALID_HANDLE_VALUE) CloseHandle(file);
    return NT_SUCCESS(result) ? 0 : RtlNtStatusToDosError(result);
}

// Deletes the open `file`, which must have been opened with delete access: it goes when it closes.
bool delete_open(HANDLE file) {
    FILE_DISPOSITION_INFO disposition{TRUE};
    return SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition) != 0;
}

struct WindowsFiles final : Files {
    // Others may read the original meanwhile, but not write, rename or remove it: a copy is of
    // one version. A copy that is there is opened to read it and to set its time.
    Error open(const Folder& folder, const Path& name, bool copy, Handle& file, Opened& opened) override {
        HANDLE handle = INVALID_HANDLE_VALUE;
        ACCESS_MASK const access = GENERIC_READ | (copy ? FILE_WRITE_ATTRIBUTES : 0);
        if (Error const error = open_in(folder, name, access, FILE_SHARE_READ, FILE_OPEN,
                                        FILE_NON_DIRECTORY_FILE | FILE_SEQUENTIAL_ONLY, handle)) {
            return error;
        }
        DWORD attributes = 0;
        if (Error const error = version_of(handle, opened.version, &attributes)) {
            CloseHandle(handle);
            return error;
        }
        if (elsewhere(folder, name, handle)) {
            CloseHandle(handle);
            return stopped_on_link;
        }
        file = handle_from(handle);
        opened.mode = 0666;  // a copy takes the permissions of the folder it is made in, as Explorer's do
        opened.regular = (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
        opened.guarded = false;  // no program can write it while it is open: its version is asked at the end
        return 0;
    }
    // A file open without sharing reading is told by the system's own words.
    bool busy(Error) override { return false; }
    bool linked(Error error) override { return error == stopped_on_link; }
    bool guarded(Handle) override { return true; }
    Error set_time(Handle file, std::int64_t written) override {
        FILE_BASIC_INFO basic{};  // the times left 0 stay as they are
        basic.LastWriteTime.QuadPart = written;
        return SetFileInformationByHandle(handle_of(file), FileBasicInfo, &basic, sizeof basic) ? 0 : GetLastError();
    }
    // With delete access, so that it is renamed through this handle once it is written.
    Error create(const Folder& folder, const Path& name, std::uint32_t, Handle& file) override {
        HANDLE made = INVALID_HANDLE_VALUE;
        if (Error const error = open_in(folder, name, GENERIC_WRITE | DELETE, 0, FILE_CREATE,
                                        FILE_NON_DIRECTORY_FILE | FILE_SEQUENTIAL_ONLY, made)) {
            return error;
        }
        file = handle_from(made);
        return 0;
    }
    Error read(Handle file, std::span<std::uint8_t> into, std::size_t& got) override {
        DWORD const size = into.size() < MAXDWORD ? static_cast<DWORD>(into.size()) : MAXDWORD;
        DWORD read = 0;
        if (!ReadFile(handle_of(file), into.data(), size, &read, nullptr)) return GetLastError();
        got = read;
        return 0;
    }
    Error write(Handle file, std::span<const std::uint8_t> bytes) override {
        while (!bytes.empty()) {
            DWORD const size = bytes.size() < MAXDWORD ? static_cast<DWORD>(bytes.size()) : MAXDWORD;
            DWORD written = 0;
            if (!WriteFile(handle_of(file), bytes.data(), size, &written, nullptr)) return GetLastError();
            if (written == 0) return ERROR_WRITE_FAULT;
            bytes = bytes.subspan(written);
        }
        return 0;
    }
    // Windows flushes file by file: a flush of a whole volume needs an administrator.
    Error flush(const Folder&, Handle file) override { return FlushFileBuffers(handle_of(file)) ? 0 : GetLastError(); }
    Error flush_all(const Folder&) override { return 0; }
    Error close(Handle file) override { return CloseHandle(handle_of(file)) ? 0 : GetLastError(); }
    // Asked of the open file, where there is one: nobody can write it, rename it or put another in
    // its place while it is open without sharing those.
    Error version(const Folder& folder, const Path& name, Handle file, Version& version) override {
        if (file != no_handle) return version_of(handle_of(file), version);
        HANDLE opened = INVALID_HANDLE_VALUE;
        if (Error const error = open_in(folder, name, FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN,
                                        FILE_NON_DIRECTORY_FILE, opened)) {
            return error;
        }
        Error error = version_of(opened, version);
        if (error == 0 && elsewhere(folder, name, opened)) error = stopped_on_link;
        CloseHandle(opened);
        return error;
    }
    Error rename(const Folder& from_folder, const Path& from, Handle file, const Folder& to_folder, const Path& to,
                 bool replace) override {
        return rename_in(from_folder, from, file == no_handle ? INVALID_HANDLE_VALUE : handle_of(file), to_folder, to,
                         replace);
    }
    bool renames_open() override { return true; }
    Error remove(const Folder& folder, const Path& name) override {
        HANDLE file = INVALID_HANDLE_VALUE;
        Error const error = open_in(folder, name, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    FILE_OPEN, FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT, file);
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return 0;
        if (error != 0) return error;
        Error const deleted = delete_open(file) ? 0 : GetLastError();
        CloseHandle(file);
        return deleted;
    }
    bool exists(Error error) override { return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS; }
};

}  // namespace

Files& system_files() {
    static WindowsFiles files;
    return files;
}

std::uint32_t process_id() { return GetCurrentProcessId(); }

std::size_t processors() { return GetActiveProcessorCount(ALL_PROCESSOR_GROUPS); }

void close_folder(Folder& folder) {
    if (folder.handle != no_handle) CloseHandle(handle_of(folder.handle));
    folder.handle = no_handle;
}

Error identity_of(const Folder& folder, Identity& identity, std::uint32_t* mode) {
    Version version;
    if (Error const error = version_of(handle_of(folder.handle), version)) return error;
    identity = {folder.volume, version.file};
    if (mode != nullptr) *mode = 0777;  // a folder takes the access rules of where it is made
    return 0;
}

// Where the folder really is, so that a file opened in it that is really elsewhere is told.
void ask_file_system(Folder& folder) { folder.real = final_path_of(handle_of(folder.handle)); }

namespace {

// Whether nothing at all holds `name` in `folder`, asked by opening the name: one call, where a
// listing takes a handle of its own (three calls to Wine's server). Wine 8 answers the cheaper
// NtQueryAttributesFile, relative to a folder's handle, with "missing" for files that are there.
// Anything else, even an error, is left to the listing. Nothing there is the common case, and the
// copy then takes its name only while it is still free, so nothing that appears is replaced.
bool nothing_at(const Folder& folder, const Path& name) {
    HANDLE opened = INVALID_HANDLE_VALUE;
    Error const error = open_in(folder, name, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                FILE_OPEN, FILE_OPEN_REPARSE_POINT, opened);
    if (error == 0) CloseHandle(opened);
    return error == ERROR_FILE_NOT_FOUND;
}

}  // namespace

// As the folder's listing shows it: a handle opened on a link may show what it leads to.
Error find(const Folder& folder, const Path& name, Found& found) {
    found = {};
    if (nothing_at(folder, name)) return 0;
    Listed entry;
    Error const error = listed(folder, name, entry);
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return 0;
    if (error != 0) return error;
    found.kind = stands_for_name(entry.attributes, entry.tag)            ? Found::Kind::link
                 : (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0   ? Found::Kind::folder
                                                                         : Found::Kind::file;
    found.size = entry.size;
    found.written = entry.written;
    return 0;
}

// Opened with the reparse point itself, and refused when it is one, unless it is to be followed:
// judged first by the folder's listing, which shows a link that a handle opened on it may not
// (Wine's Unix links), and then by the identity of what was opened, which must be what was listed.
Error open_folder(const Folder& folder, const Path& name, bool follow, Folder& child) {
    Listed entry;
    if (!follow) {
        if (Error const error = listed(folder, name, entry)) return error;
        if (stands_for_name(entry.attributes, entry.tag)) return stopped_on_link;
    }
    HANDLE opened = INVALID_HANDLE_VALUE;
    ULONG const options = FILE_DIRECTORY_FILE | FILE_OPEN_FOR_BACKUP_INTENT | (follow ? 0 : FILE_OPEN_REPARSE_POINT);
    if (Error const error = open_in(folder, name, folder_access, FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_OPEN, options,
                                    opened)) {
        return error;
    }
    if (!follow) {
        FILE_BASIC_INFO information;
        Version version;
        if (!GetFileInformationByHandleEx(opened, FileBasicInfo, &information, sizeof information) ||
            (information.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || version_of(opened, version) != 0 ||
            version.file != entry.id) {
            CloseHandle(opened);
            return stopped_on_link;
        }
    }
    child = {handle_from(opened), join(folder.path, name), true, follow ? volume_of(opened) : folder.volume, false, {}};
    return 0;
}

// A folder keeps the access rules that it inherits where it is made, as a copy in Explorer does.
Error make_folder(const Folder& folder, const Path& name, std::uint32_t, bool& made) {
    HANDLE opened = INVALID_HANDLE_VALUE;
    Error const error = open_in(folder, name, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_CREATE,
                                FILE_DIRECTORY_FILE, opened);
    made = error == 0;
    if (made) CloseHandle(opened);
    return made || error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS ? 0 : error;
}

void set_mode(const Folder&, std::uint32_t) {}

void remove_folder(const Folder& folder, const Path& name) {
    HANDLE opened = INVALID_HANDLE_VALUE;
    if (open_in(folder, name, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN,
                FILE_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT | FILE_OPEN_FOR_BACKUP_INTENT, opened) == 0) {
        delete_open(opened);  // refused while it holds anything
        CloseHandle(opened);
    }
}

// A name that is no regular file (a folder, a link, also one that only where it leads shows) is left.
Removal remove_file(const Folder& folder, const Path& name) {
    Listed entry;
    if (listed(folder, name, entry) != 0 || stands_for_name(entry.attributes, entry.tag) ||
        (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return Removal::other;
    }
    HANDLE opened = INVALID_HANDLE_VALUE;
    if (open_in(folder, name, DELETE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                FILE_OPEN, FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT, opened) != 0) {
        return Removal::stays;
    }
    Version version;
    DWORD attributes = 0;
    if (version_of(opened, version, &attributes) != 0 || version.file != entry.id ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || elsewhere(folder, name, opened)) {
        CloseHandle(opened);
        return Removal::other;
    }
    bool const deleted = delete_open(opened);
    CloseHandle(opened);
    // A file goes when its last handle closes, and a system may fail that without a word (Wine,
    // where the file cannot be removed): removed only once its name is gone.
    return deleted && listed(folder, name, entry) == ERROR_FILE_NOT_FOUND ? Removal::removed : Removal::stays;
}

Path real_path(const Folder& folder) { return final_path_of(handle_of(folder.handle)); }

namespace {

// Opens the folder at the extended path `path` to ask its identity, never through a link.
Error identity_at(const std::wstring& path, Identity& identity) {
    HANDLE const folder = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (folder == INVALID_HANDLE_VALUE) return GetLastError();
    Version version;
    Error const error = version_of(folder, version);
    identity = {volume_of(folder), version.file};
    CloseHandle(folder);
    return error;
}

}  // namespace

// What the link leads to is opened by the system, and found again by where it really is: its
// folder opened by that path and judged by identity (first_above), never by the path's text.
Followed follow_link(const Folder& folder, const Path& name) {
    Followed followed;
    followed.mine = true;
    HANDLE target = INVALID_HANDLE_VALUE;
    followed.error = open_in(folder, name, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             FILE_OPEN, FILE_OPEN_FOR_BACKUP_INTENT, target);
    if (followed.error != 0) return followed;
    std::wstring const real = final_path_of(target);
    CloseHandle(target);
    std::wstring const above(parent(std::wstring_view(real)));
    if (real.empty() || above == real) {
        followed.error = ERROR_PATH_NOT_FOUND;
        return followed;
    }
    HANDLE const held = CreateFileW(above.c_str(), folder_access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (held == INVALID_HANDLE_VALUE) {
        followed.error = GetLastError();
        return followed;
    }
    followed.folder = {handle_from(held), shown(above), true, volume_of(held), false, above};
    followed.name = std::wstring(last_component(std::wstring_view(real)));
    return followed;
}

// Each folder that holds `folder` is found by the path where it really is, and judged by the
// identity of what that path opens.
Error first_above(const Folder& folder, std::span<const Identity> marks, std::size_t& met) {
    met = marks.size();
    std::wstring path = final_path_of(handle_of(folder.handle));
    if (path.empty()) return GetLastError();
    for (Identity here; ; ) {
        if (Error const error = identity_at(path, here)) return error;
        auto const mark = std::find(marks.begin(), marks.end(), here);
        if (mark != marks.end()) {
            met = static_cast<std::size_t>(mark - marks.begin());
            return 0;
        }
        std::wstring_view const above = parent(std::wstring_view(path));
        if (above.size() == path.size()) return 0;  // the root
        path = std::wstring(above);
    }
}

std::size_t descriptors_left() { return SIZE_MAX; }  // a process may hold millions of handles

// Where the file really is, in the letter case it has on disk, ends in the copy's own path.
bool spelled_as(const Folder& copies, PathView relative) {
    HANDLE file = INVALID_HANDLE_VALUE;
    if (open_in(copies, relative, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                FILE_OPEN, FILE_OPEN_FOR_BACKUP_INTENT, file) != 0) {
        return true;
    }
    std::wstring const real = final_path_of(file);
    CloseHandle(file);
    return real.empty() || real.ends_with(L"\\" + Path(relative));
}

// A lock that is not open can be deleted: it was left by a drop that ended, and goes. One that
// really is elsewhere is no drop's lock but a link (a Unix link under Wine): it stays, and so does
// what it leads to.
bool at_work(const Folder& copies, std::uint32_t owner) {
    HANDLE lock = INVALID_HANDLE_VALUE;
    Path const name = lock_name(owner);
    Error const error = open_in(copies, name, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                FILE_OPEN, FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT, lock);
    if (error == 0) {
        if (!elsewhere(copies, name, lock)) delete_open(lock);
        CloseHandle(lock);
        return false;
    }
    return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
}

// Open without sharing, so that no other drop can delete it, and deleted when this drop's last
// handle closes, also when it is killed.
Lock lock_folder(const Folder& copies, std::uint32_t process) {
    HANDLE lock = INVALID_HANDLE_VALUE;
    Path const name = lock_name(process);
    UNICODE_STRING string;
    string.Buffer = const_cast<wchar_t*>(name.data());
    string.Length = string.MaximumLength = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    OBJECT_ATTRIBUTES object;
    InitializeObjectAttributes(&object, &string, OBJ_CASE_INSENSITIVE, handle_of(copies.handle), nullptr);
    IO_STATUS_BLOCK status;
    NTSTATUS const result =
        NtCreateFile(&lock, GENERIC_WRITE | DELETE | SYNCHRONIZE, &object, &status, nullptr, FILE_ATTRIBUTE_HIDDEN, 0,
                     FILE_OVERWRITE_IF, FILE_NON_DIRECTORY_FILE | FILE_DELETE_ON_CLOSE | FILE_SYNCHRONOUS_IO_NONALERT,
                     nullptr, 0);
    if (!NT_SUCCESS(result)) return {no_handle, Lock::Failed::create, RtlNtStatusToDosError(result)};
    return {handle_from(lock), Lock::Failed::none, 0};
}

void unlock_folder(const Folder&, std::uint32_t, const Lock& lock) { CloseHandle(handle_of(lock.handle)); }

}  // namespace drop

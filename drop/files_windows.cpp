// The file calls of a drop on Windows, and its questions of the file system. A drop marks each
// folder of copies it uses with a lock file that it keeps open without sharing, and that goes
// when its last handle closes, also when the drop is killed.
#include "files_windows.hpp"

#include <windows.h>

#include "paths.hpp"
#include "system.hpp"

namespace drop {

namespace {

HANDLE handle_of(Files::Handle file) { return reinterpret_cast<HANDLE>(file); }

// Where the open `file` really is; empty when the system cannot say. The size is asked first, so
// that a path of any length fits.
std::wstring final_path_of(HANDLE file) {
    DWORD const size = GetFinalPathNameByHandleW(file, nullptr, 0, FILE_NAME_NORMALIZED);
    std::wstring path(size, L'\0');
    DWORD const length = size == 0 ? 0 : GetFinalPathNameByHandleW(file, path.data(), size, FILE_NAME_NORMALIZED);
    path.resize(length < size ? length : 0);
    return path;
}

Error version_of(HANDLE file, Version& version) {
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(file, &information)) return GetLastError();
    const auto wide = [](DWORD high, DWORD low) { return std::uint64_t{high} << 32 | low; };
    version = {wide(information.nFileSizeHigh, information.nFileSizeLow),
               static_cast<std::int64_t>(
                   wide(information.ftLastWriteTime.dwHighDateTime, information.ftLastWriteTime.dwLowDateTime)),
               wide(information.nFileIndexHigh, information.nFileIndexLow), information.dwVolumeSerialNumber};
    return 0;
}

struct WindowsFiles final : Files {
    // Others may read the original meanwhile, but not write it: a copy is of one version.
    Error open(const Path& source, Handle& file) override {
        HANDLE const opened = CreateFileW(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                          FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        if (opened == INVALID_HANDLE_VALUE) return GetLastError();
        file = reinterpret_cast<Handle>(opened);
        return 0;
    }
    Error create(const Path& copy, Handle& file) override {
        HANDLE const made = CreateFileW(copy.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        if (made == INVALID_HANDLE_VALUE) return GetLastError();
        file = reinterpret_cast<Handle>(made);
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
    Error close(Handle file) override { return CloseHandle(handle_of(file)) ? 0 : GetLastError(); }
    Error version(Handle file, Version& version) override { return version_of(handle_of(file), version); }
    // Asked of the file now under the name, opened for its attributes only and shared every way.
    Error version(const Path& path, Version& version) override {
        HANDLE const file = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (file == INVALID_HANDLE_VALUE) return GetLastError();
        Error const error = version_of(file, version);
        CloseHandle(file);
        return error;
    }
    // Without MOVEFILE_REPLACE_EXISTING: a file under the name stays, and the move fails.
    Error rename(const Path& from, const Path& to) override {
        return MoveFileExW(from.c_str(), to.c_str(), 0) ? 0 : GetLastError();
    }
    Error remove(const Path& path) override {
        return DeleteFileW(path.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND ? 0 : GetLastError();
    }
    bool exists(Error error) override { return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS; }
    // The walk cannot tell a file link by its attributes under Wine, so every file is asked where
    // it really is once it is open: a call on the handle, no second open.
    bool inside_copies(Handle file) override { return inside_converted(final_path_of(handle_of(file)), false); }
};

}  // namespace

std::wstring final_path(const std::wstring& path) {
    HANDLE const file = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    std::wstring real = final_path_of(file);
    CloseHandle(file);
    return real;
}

Files& system_files() {
    static WindowsFiles files;
    return files;
}

std::uint32_t process_id() { return GetCurrentProcessId(); }

std::size_t processors() { return GetActiveProcessorCount(ALL_PROCESSOR_GROUPS); }

Kind kind_of(const Path& path) {
    DWORD const attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return Kind::missing;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? Kind::folder : Kind::file;
}

Error create_folder(const Path& folder, bool& made) {
    made = CreateDirectoryW(folder.c_str(), nullptr) != 0;
    return made || GetLastError() == ERROR_ALREADY_EXISTS ? 0 : GetLastError();
}

void remove_folder(const Path& folder) { RemoveDirectoryW(folder.c_str()); }

bool remove_file(const Path& path) { return DeleteFileW(path.c_str()) != 0; }

std::vector<Path> names_in(const Path& folder) {
    std::vector<Path> names;
    WIN32_FIND_DATAW entry;
    HANDLE const listing =
        FindFirstFileExW(join(folder, L"*").c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr, 0);
    if (listing == INVALID_HANDLE_VALUE) return names;
    do {
        std::wstring_view const name = entry.cFileName;
        if (name != L"." && name != L"..") names.emplace_back(name);
    } while (FindNextFileW(listing, &entry));
    FindClose(listing);
    return names;
}

// Where the file really is, in the letter case it has on disk, ends in the copy's own path.
bool spelled_as(const Path& copies, PathView relative) {
    std::wstring const real = final_path(join(copies, relative));
    return real.empty() || real.ends_with(L"\\" + Path(relative));
}

// A lock that is not open can be deleted: it was left by a drop that ended, and goes.
bool at_work(const Path& copies, std::uint32_t owner) {
    if (DeleteFileW(join(copies, lock_name(owner)).c_str())) return false;
    DWORD const error = GetLastError();
    return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
}

// Open without sharing, so that no other drop can delete it, and deleted when this drop's last
// handle closes, also when it is killed.
Lock lock_folder(const Path& copies, std::uint32_t process) {
    HANDLE const lock = CreateFileW(join(copies, lock_name(process)).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (lock == INVALID_HANDLE_VALUE) return {0, Lock::Failed::create, GetLastError()};
    return {reinterpret_cast<Files::Handle>(lock), Lock::Failed::none, 0};
}

void unlock_folder(const Path&, std::uint32_t, const Lock& lock) { CloseHandle(handle_of(lock.handle)); }

}  // namespace drop

// plain-loop FOLDER: the floor of a drop on Windows, for bench/drop-bench.sh: the file calls a
// drop needs for each file, in one loop on one thread, and nothing else: no walk beyond listing
// each folder of FOLDER, no check, no line. For each file, the original is opened and read, a new
// file is made in FOLDER\converted\SUBFOLDER, the bytes are written with their halves exchanged
// from the fifth on, flushed to the disk, both files are closed and the new one is renamed.
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

std::vector<std::wstring> names_in(const std::wstring& folder, bool folders) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW entry;
    HANDLE const found = FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (found == INVALID_HANDLE_VALUE) return names;
    do {
        std::wstring const name = entry.cFileName;
        bool const folder_entry = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (name != L"." && name != L".." && name != L"converted" && folder_entry == folders) names.push_back(name);
    } while (FindNextFileW(found, &entry));
    FindClose(found);
    return names;
}

}  // namespace

int wmain(int argc, wchar_t* argv[]) {
    if (argc != 2) return 2;
    std::wstring const top = argv[1], copies = top + L"\\converted";
    CreateDirectoryW(copies.c_str(), nullptr);
    std::vector<std::uint8_t> buffer(1 << 20);
    unsigned long number = 0;
    for (const std::wstring& folder : names_in(top, true)) {
        CreateDirectoryW((copies + L"\\" + folder).c_str(), nullptr);
        for (const std::wstring& name : names_in(top + L"\\" + folder, false)) {
            std::wstring const temporary = copies + L"\\plain-" + std::to_wstring(++number) + L".tmp";
            HANDLE const in = CreateFileW((top + L"\\" + folder + L"\\" + name).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                          nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
            HANDLE const out = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
            if (in == INVALID_HANDLE_VALUE || out == INVALID_HANDLE_VALUE) return 1;
            DWORD got = 0, written = 0;
            if (!ReadFile(in, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) return 1;
            for (DWORD i = 4; i < got; ++i) buffer[i] = static_cast<std::uint8_t>(buffer[i] >> 4 | buffer[i] << 4);
            if (!WriteFile(out, buffer.data(), got, &written, nullptr) || !FlushFileBuffers(out)) return 1;
            CloseHandle(in);
            CloseHandle(out);
            if (!MoveFileExW(temporary.c_str(), (copies + L"\\" + folder + L"\\" + name).c_str(), 0)) return 1;
        }
    }
    return 0;
}

// drop-files-here FILE-OR-FOLDER...: quoxel for Windows users who drop files on a program rather
// than type commands. Each file it is given, and each .wav file directly inside each folder it is
// given, is copied into a folder "converted" beside it and converted there by the quoxel.exe that
// stands beside this program. The original is never changed, and a file whose copy exists already
// is skipped, so that a second drop never converts anything back.
//
// Names pass through as UTF-16 from the wide command line to the wide file calls; text becomes
// UTF-8 only where it is written to a file or a pipe.
#include <windows.h>

#include <string>
#include <string_view>

namespace {

struct Counts {
    int converted = 0;
    int skipped = 0;
    int failed = 0;
};

// Writes `text` as UTF-16 to a console, which then shows every script, or as UTF-8 to a file or a
// pipe. A failed write has nowhere to be reported, so its result is not tested.
void write_text(DWORD which, std::wstring_view text) {
    HANDLE const handle = GetStdHandle(which);
    DWORD mode = 0;
    DWORD written = 0;
    if (GetConsoleMode(handle, &mode)) {
        WriteConsoleW(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    int const length = static_cast<int>(text.size());
    int const size = WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), length, utf8.data(), size, nullptr, nullptr);
    WriteFile(handle, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}

void say(std::wstring_view line) { write_text(STD_OUTPUT_HANDLE, std::wstring(line) + L"\r\n"); }

// Failures go to standard error, where quoxel.exe's own report stands just before them.
void complain(std::wstring_view line) { write_text(STD_ERROR_HANDLE, std::wstring(line) + L"\r\n"); }

// The system's text for `error`, on one line and without its final full stop.
std::wstring system_text(DWORD error) {
    wchar_t text[512];
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                                  text, sizeof text / sizeof text[0], nullptr);
    while (length > 0 && (text[length - 1] == L'\r' || text[length - 1] == L'\n' || text[length - 1] == L'.')) {
        --length;
    }
    return length > 0 ? std::wstring(text, length) : L"error " + std::to_wstring(error);
}

void skip(const std::wstring& path, std::wstring_view why, Counts& counts) {
    say(L"skipped: " + path + L" (" + std::wstring(why) + L")");
    ++counts.skipped;
}

void fail(const std::wstring& path, std::wstring_view why, Counts& counts) {
    complain(L"failed: " + path + L" (" + std::wstring(why) + L")");
    ++counts.failed;
}

// Letter case as Windows file names ignore it, for the ASCII words compared here: no other
// character folds to one of their letters.
bool same_ignoring_case(std::wstring_view a, std::wstring_view b) {
    const auto lower = [](wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; };
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

bool is_wav(std::wstring_view name) { return name.size() >= 4 && same_ignoring_case(name.substr(name.size() - 4), L".wav"); }

std::wstring join(const std::wstring& folder, std::wstring_view name) {
    return folder.ends_with(L'\\') ? folder + std::wstring(name) : folder + L'\\' + std::wstring(name);
}

std::wstring_view last_component(std::wstring_view path) { return path.substr(path.find_last_of(L'\\') + 1); }

// `argument` quoted for CreateProcessW so that the C runtime's parser gives it back unchanged:
// backslashes count only before a quote, so they are doubled there and before the closing quote.
std::wstring quoted(std::wstring_view argument) {
    std::wstring out = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t const c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        out.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        out += c;
    }
    out.append(2 * backslashes, L'\\');
    return out + L'"';
}

// Runs `tool` on `file` in `folder`, with this program's standard handles, and returns why it did
// not succeed: nothing when it exited with status 0.
std::wstring run_tool(const std::wstring& tool, const std::wstring& file, const std::wstring& folder) {
    std::wstring command = quoted(tool) + L' ' + quoted(file);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(tool.c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr, folder.c_str(), &startup,
                        &process)) {
        return L"cannot start quoxel.exe: " + system_text(GetLastError());
    }
    CloseHandle(process.hThread);
    DWORD status = 1;
    bool const waited = WaitForSingleObject(process.hProcess, INFINITE) == WAIT_OBJECT_0 &&
                        GetExitCodeProcess(process.hProcess, &status);
    DWORD const error = GetLastError();
    CloseHandle(process.hProcess);
    if (!waited) return L"cannot wait for quoxel.exe: " + system_text(error);
    if (status != 0) return L"quoxel.exe stopped with status " + std::to_wstring(status) + L"; no copy kept";
    return L"";
}

// Removes the temporary `copy` after a failure, and returns `why` the file failed, with a word on
// a copy that stays.
std::wstring discarded(const std::wstring& copy, std::wstring why) {
    if (!DeleteFileW(copy.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) {
        why += L"; the temporary copy " + copy + L" stays: " + system_text(GetLastError());
    }
    return why;
}

// Converts a copy of the file at the full `path` into the folder "converted" beside it. The copy
// is made and converted under a temporary name and takes the file's own name only once the tool
// has succeeded, so that a crash, a closed window or a full disk never leaves a half-converted
// file under that name.
void convert_copy(const std::wstring& path, const std::wstring& tool, Counts& counts) {
    std::wstring const folder = path.substr(0, path.find_last_of(L'\\'));
    std::wstring_view const name = last_component(path);
    if (same_ignoring_case(last_component(folder), L"converted")) return skip(path, L"a converted copy itself", counts);

    std::wstring const out = join(folder, L"converted");
    if (!CreateDirectoryW(out.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        return fail(path, L"cannot make the folder converted: " + system_text(GetLastError()), counts);
    }
    DWORD const out_attributes = GetFileAttributesW(out.c_str());
    if (out_attributes == INVALID_FILE_ATTRIBUTES || (out_attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return fail(path, L"converted beside it is a file, not a folder", counts);
    }
    std::wstring const target = join(out, name);
    if (GetFileAttributesW(target.c_str()) != INVALID_FILE_ATTRIBUTES) {
        return skip(path, L"already converted: converted\\" + std::wstring(name) + L" exists", counts);
    }

    // A plain ASCII name, given to the tool relative to its working folder, so that its narrow
    // argument vector never meets a character outside the code page. The process id and the
    // number of files handled so far make it unique: a file of that name can only be left over
    // from an ended process, and is overwritten.
    std::wstring const temporary = L"quoxel-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                   std::to_wstring(counts.converted + counts.skipped + counts.failed) + L".tmp";
    std::wstring const copy = join(out, temporary);
    if (!CopyFileW(path.c_str(), copy.c_str(), FALSE)) {
        std::wstring const why = L"cannot copy it into converted: " + system_text(GetLastError());
        return fail(path, discarded(copy, why), counts);
    }
    // CopyFileW copies the read-only attribute too, and the tool opens the copy for update.
    DWORD const copy_attributes = GetFileAttributesW(copy.c_str());
    if (copy_attributes == INVALID_FILE_ATTRIBUTES ||
        !SetFileAttributesW(copy.c_str(), copy_attributes & ~DWORD{FILE_ATTRIBUTE_READONLY})) {
        std::wstring const why = L"cannot make its copy writable: " + system_text(GetLastError());
        return fail(path, discarded(copy, why), counts);
    }
    if (std::wstring const why = run_tool(tool, temporary, out); !why.empty()) {
        return fail(path, discarded(copy, why), counts);
    }
    if (!MoveFileExW(copy.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH)) {
        std::wstring const why = L"cannot name the converted copy: " + system_text(GetLastError());
        return fail(path, discarded(copy, why), counts);
    }
    say(L"converted: " + path);
    ++counts.converted;
}

// A file is converted whatever its name; a folder gives each file directly inside it whose name
// ends in .wav in any letter case. The folder is listed whole and the long names compared here,
// since a pattern *.wav would also match song.wave through its 8.3 short name.
void take(const wchar_t* argument, const std::wstring& tool, Counts& counts) {
    wchar_t full[32768];
    DWORD const length = GetFullPathNameW(argument, sizeof full / sizeof full[0], full, nullptr);
    if (length == 0 || length >= sizeof full / sizeof full[0]) return fail(argument, system_text(GetLastError()), counts);
    std::wstring const path(full, length);
    DWORD const attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return fail(path, system_text(GetLastError()), counts);
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return convert_copy(path, tool, counts);

    WIN32_FIND_DATAW entry;
    HANDLE const listing = FindFirstFileW(join(path, L"*").c_str(), &entry);
    if (listing == INVALID_HANDLE_VALUE) return fail(path, system_text(GetLastError()), counts);
    bool found = false;
    do {
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || !is_wav(entry.cFileName)) continue;
        found = true;
        convert_copy(join(path, entry.cFileName), tool, counts);
    } while (FindNextFileW(listing, &entry));
    DWORD const error = GetLastError();
    FindClose(listing);
    if (error != ERROR_NO_MORE_FILES) return fail(path, L"cannot list the folder: " + system_text(error), counts);
    if (!found) fail(path, L"no .wav file directly in this folder", counts);
}

// Explorer gives a program that it starts for a drop or a double-click a console window of its
// own, which closes when the program ends: then, and only then, this program is alone on its
// console and reads from it, and waits for Enter so that what it printed can be read.
void wait_if_alone_in_window() {
    DWORD processes[2];
    DWORD mode = 0;
    HANDLE const input = GetStdHandle(STD_INPUT_HANDLE);
    if (GetConsoleProcessList(processes, 2) != 1 || !GetConsoleMode(input, &mode)) return;
    say(L"Press Enter to close this window.");
    FlushConsoleInputBuffer(input);
    wchar_t line[256];
    DWORD read = 0;
    ReadConsoleW(input, line, sizeof line / sizeof line[0], &read, nullptr);
}

}  // namespace

int wmain(int argc, wchar_t* argv[]) {
    wchar_t self[32768];
    DWORD const length = GetModuleFileNameW(nullptr, self, sizeof self / sizeof self[0]);
    std::wstring const program_path(self, length);
    std::wstring const program(last_component(program_path));
    std::wstring const tool = join(program_path.substr(0, program_path.find_last_of(L'\\')), L"quoxel.exe");

    if (argc < 2) {
        say(program + L" makes converted copies of WAV files, with the quoxel.exe");
        say(L"beside it. Drop files or folders on it: each file dropped, and each .wav file");
        say(L"directly inside a dropped folder, is copied into a folder \"converted\" beside");
        say(L"it and converted there. The originals are never changed, and a file whose");
        say(L"copy is in \"converted\" already is skipped, so a second drop does no harm.");
        say(L"From a Command Prompt: \"" + program + L"\" \"C:\\path\\to\\file or folder\" ...");
        wait_if_alone_in_window();
        return 0;
    }
    if (length == 0 || GetFileAttributesW(tool.c_str()) == INVALID_FILE_ATTRIBUTES) {
        complain(L"quoxel.exe is not beside " + program + L": unpack the whole zip into one folder.");
        wait_if_alone_in_window();
        return 1;
    }
    // The tool writes its reports to this program's standard error, which it must inherit.
    for (DWORD const which : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
        SetHandleInformation(GetStdHandle(which), HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    }

    Counts counts;
    for (int i = 1; i < argc; ++i) take(argv[i], tool, counts);
    say(std::to_wstring(counts.converted) + L" converted, " + std::to_wstring(counts.skipped) + L" skipped, " +
        std::to_wstring(counts.failed) + L" failed.");
    wait_if_alone_in_window();
    return counts.failed == 0 ? 0 : 1;
}

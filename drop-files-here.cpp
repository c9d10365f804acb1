// drop-files-here FILE-OR-FOLDER...: quoxel for Windows users who drop files on a program rather
// than type commands. Each file it is given, and each .wav file directly inside each folder it is
// given, is copied into a folder "converted" beside it and converted there by the quoxel.exe that
// stands beside this program. The original is never changed, and a file whose copy exists already
// is skipped, so that a second drop never converts anything back.
//
// Names pass through as UTF-16 from the wide command line to the wide file calls; text becomes
// UTF-8 only where it is written to a file or a pipe. Paths and command lines are composed in
// buffers on the stack, each as long as the longest path the wide calls take (some 520 KiB in
// all at the deepest call, within the 2 MiB stack the linker reserves); nothing is allocated.
#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string_view>

namespace {

// The longest path the wide file calls take, with its terminating null.
constexpr std::size_t path_room = 32768;

struct Counts {
    std::size_t converted = 0;
    std::size_t skipped = 0;
    std::size_t failed = 0;
};

// A text given in pieces: written one after another, or composed into one buffer where the system
// needs a single string.
using Pieces = std::initializer_list<std::wstring_view>;

// Writes `pieces` one after the other, as UTF-16 to a console, which then shows every script, or
// as UTF-8 to a file or a pipe. A failed write has nowhere to be reported, so its result is not
// tested.
void write(DWORD which, Pieces pieces) {
    constexpr std::size_t chunk = 4096;
    HANDLE const handle = GetStdHandle(which);
    DWORD mode = 0;
    bool const console = GetConsoleMode(handle, &mode) != 0;
    for (std::wstring_view text : pieces) {
        while (!text.empty()) {
            // A chunk never ends inside a surrogate pair, so that each one converts whole.
            std::size_t n = text.size() < chunk ? text.size() : chunk;
            if (n < text.size() && IS_HIGH_SURROGATE(text[n - 1])) --n;
            DWORD written = 0;
            if (console) {
                WriteConsoleW(handle, text.data(), static_cast<DWORD>(n), &written, nullptr);
            } else {
                char utf8[3 * chunk];  // UTF-8 takes at most 3 bytes for each UTF-16 unit
                int const size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(n), utf8,
                                                     sizeof utf8, nullptr, nullptr);
                WriteFile(handle, utf8, static_cast<DWORD>(size), &written, nullptr);
            }
            text.remove_prefix(n);
        }
    }
}

void say(Pieces line) {
    write(STD_OUTPUT_HANDLE, line);
    write(STD_OUTPUT_HANDLE, {L"\r\n"});
}

// Writes `pieces` one after another into `room` and a null after them, so that the view returned
// can also be passed to the system as a string. An empty view when they do not fit.
std::wstring_view compose(std::span<wchar_t> room, Pieces pieces) {
    std::size_t size = 0;
    for (std::wstring_view const piece : pieces) {
        if (piece.size() >= room.size() - size) return {};
        std::copy(piece.begin(), piece.end(), room.begin() + static_cast<std::ptrdiff_t>(size));
        size += piece.size();
    }
    room[size] = L'\0';
    return {room.data(), size};
}

// `value` in decimal, at the end of `room`; 20 digits hold any 64-bit value.
std::wstring_view decimal(std::uint64_t value, std::span<wchar_t, 20> room) {
    std::size_t start = room.size();
    do {
        room[--start] = static_cast<wchar_t>(L'0' + value % 10);  // a digit
        value /= 10;
    } while (value != 0);
    return {room.data() + start, room.size() - start};
}

// The system's text for `error`, on one line and without its final full stop, in `room`.
std::wstring_view system_text(DWORD error, std::span<wchar_t, 512> room) {
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                                  room.data(), static_cast<DWORD>(room.size()), nullptr);
    while (length > 0 && (room[length - 1] == L'\r' || room[length - 1] == L'\n' || room[length - 1] == L'.')) {
        --length;
    }
    if (length > 0) return {room.data(), length};
    wchar_t digits[20];
    return compose(room, {L"error ", decimal(error, digits)});
}

// "VERDICT: PATH (WHY MORE)": on standard output for a skip, and on standard error for a
// failure, where quoxel.exe's own report stands just before it.
void explain(DWORD which, std::wstring_view verdict, std::wstring_view path, Pieces why, Pieces more = {}) {
    write(which, {verdict, L": ", path, L" ("});
    write(which, why);
    write(which, more);
    write(which, {L")\r\n"});
}

void skip(std::wstring_view path, Pieces why, Counts& counts) {
    explain(STD_OUTPUT_HANDLE, L"skipped", path, why);
    ++counts.skipped;
}

void fail(std::wstring_view path, Pieces why, Counts& counts) {
    explain(STD_ERROR_HANDLE, L"failed", path, why);
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

// The views here are cut with remove_prefix and remove_suffix, which cannot throw: substr would
// link the C++ runtime's exceptions into the program for a case that cannot arise.

bool is_wav(std::wstring_view name) {
    if (name.size() < 4) return false;
    name.remove_prefix(name.size() - 4);
    return same_ignoring_case(name, L".wav");
}

std::wstring_view last_component(std::wstring_view path) {
    path.remove_prefix(path.find_last_of(L'\\') + 1);  // all of it when there is no backslash
    return path;
}

// What precedes the last component; empty when there is no backslash.
std::wstring_view up_to_last_component(std::wstring_view path) {
    path.remove_suffix(last_component(path).size());
    return path;
}

// What goes between `folder` and a name inside it: nothing after the backslash of a root.
std::wstring_view separator(std::wstring_view folder) { return folder.ends_with(L'\\') ? L"" : L"\\"; }

// Writes the command line that runs `tool` on `file` into `room`, null-terminated, each quoted so
// that the C runtime's parser gives it back unchanged: backslashes count only before a quote, so
// they are doubled there and before the closing quote. False when it does not fit.
bool command_line(std::span<wchar_t> room, std::wstring_view tool, std::wstring_view file) {
    std::size_t size = 0;
    const auto put = [&](wchar_t c, std::size_t times) {
        for (; times > 0; --times, ++size) {
            if (size < room.size()) room[size] = c;
        }
    };
    for (std::wstring_view const argument : {tool, file}) {
        if (size != 0) put(L' ', 1);
        put(L'"', 1);
        std::size_t backslashes = 0;
        for (wchar_t const c : argument) {
            if (c == L'\\') {
                ++backslashes;
                continue;
            }
            put(L'\\', c == L'"' ? 2 * backslashes + 1 : backslashes);
            backslashes = 0;
            put(c, 1);
        }
        put(L'\\', 2 * backslashes);
        put(L'"', 1);
    }
    put(L'\0', 1);
    return size <= room.size();
}

// How a run of quoxel.exe ended: either `failed` says what could not be done to it, with the
// system's `error`, or it exited with `status`.
struct Run {
    const wchar_t* failed;
    DWORD error;
    DWORD status;
};

// Runs `tool` on the file `name` in the folder `folder`, with this program's standard handles.
// `tool` and `folder` are null-terminated.
Run run_tool(std::wstring_view tool, std::wstring_view name, std::wstring_view folder) {
    wchar_t command[path_room];
    if (!command_line(command, tool, name)) return {L"start", ERROR_FILENAME_EXCED_RANGE, 0};
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(tool.data(), command, nullptr, nullptr, TRUE, 0, nullptr, folder.data(), &startup,
                        &process)) {
        return {L"start", GetLastError(), 0};
    }
    CloseHandle(process.hThread);
    DWORD status = 1;
    bool const waited = WaitForSingleObject(process.hProcess, INFINITE) == WAIT_OBJECT_0 &&
                        GetExitCodeProcess(process.hProcess, &status);
    DWORD const error = GetLastError();
    CloseHandle(process.hProcess);
    if (!waited) return {L"wait for", error, 0};
    return {nullptr, 0, status};
}

// Removes the temporary `copy` (null-terminated) of the file at `path`, then names the file as
// failed for `why`, and the copy too when it could not be removed.
void fail_discarding(std::wstring_view copy, std::wstring_view path, Pieces why, Counts& counts) {
    if (DeleteFileW(copy.data()) || GetLastError() == ERROR_FILE_NOT_FOUND) return fail(path, why, counts);
    wchar_t text[512];
    explain(STD_ERROR_HANDLE, L"failed", path, why,
            {L"; the temporary copy ", copy, L" stays: ", system_text(GetLastError(), text)});
    ++counts.failed;
}

// Converts a copy of the file at the full `path` into the folder "converted" beside it. The copy
// is made and converted under a temporary name and takes the file's own name only once the tool
// has succeeded, so that a crash, a closed window or a full disk never leaves a half-converted
// file under that name.
void convert_copy(std::wstring_view path, std::wstring_view tool, Counts& counts) {
    std::wstring_view const name = last_component(path);
    std::wstring_view folder = up_to_last_component(path);
    folder.remove_suffix(1);  // the backslash: a full path has one
    if (same_ignoring_case(last_component(folder), L"converted")) {
        return skip(path, {L"a converted copy itself"}, counts);
    }

    // A plain ASCII name for the copy, given to the tool relative to its working folder, so that
    // its narrow argument vector never meets a character outside the code page. The process id
    // and the number of files handled so far make it unique: a file of that name can only be left
    // over from an ended process, and is overwritten.
    wchar_t out_room[path_room];
    wchar_t target_room[path_room];
    wchar_t copy_room[path_room];
    wchar_t digits[2][20];
    std::wstring_view const out = compose(out_room, {folder, L"\\converted"});
    std::wstring_view const target = compose(target_room, {out, L"\\", name});
    std::wstring_view const copy =
        compose(copy_room, {out, L"\\quoxel-", decimal(GetCurrentProcessId(), digits[0]), L"-",
                            decimal(counts.converted + counts.skipped + counts.failed, digits[1]), L".tmp"});
    if (out.empty() || target.empty() || copy.empty()) return fail(path, {L"the path of its copy is too long"}, counts);
    std::wstring_view const temporary = last_component(copy);

    wchar_t text[512];
    if (!CreateDirectoryW(out.data(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        return fail(path, {L"cannot make the folder converted: ", system_text(GetLastError(), text)}, counts);
    }
    DWORD const out_attributes = GetFileAttributesW(out.data());
    if (out_attributes == INVALID_FILE_ATTRIBUTES || (out_attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return fail(path, {L"converted beside it is a file, not a folder"}, counts);
    }
    if (GetFileAttributesW(target.data()) != INVALID_FILE_ATTRIBUTES) {
        return skip(path, {L"already converted: converted\\", name, L" exists"}, counts);
    }

    if (!CopyFileW(path.data(), copy.data(), FALSE)) {
        return fail_discarding(copy, path, {L"cannot copy it into converted: ", system_text(GetLastError(), text)},
                               counts);
    }
    // CopyFileW copies the read-only attribute too, and the tool opens the copy for update.
    DWORD const copy_attributes = GetFileAttributesW(copy.data());
    if (copy_attributes == INVALID_FILE_ATTRIBUTES ||
        !SetFileAttributesW(copy.data(), copy_attributes & ~DWORD{FILE_ATTRIBUTE_READONLY})) {
        return fail_discarding(copy, path, {L"cannot make its copy writable: ", system_text(GetLastError(), text)},
                               counts);
    }
    Run const run = run_tool(tool, temporary, out);
    if (run.failed != nullptr) {
        return fail_discarding(copy, path, {L"cannot ", run.failed, L" quoxel.exe: ", system_text(run.error, text)},
                               counts);
    }
    if (run.status != 0) {
        std::wstring_view const status = decimal(run.status, digits[0]);
        return fail_discarding(copy, path, {L"quoxel.exe stopped with status ", status, L"; no copy kept"}, counts);
    }
    if (!MoveFileExW(copy.data(), target.data(), MOVEFILE_WRITE_THROUGH)) {
        return fail_discarding(copy, path, {L"cannot name the converted copy: ", system_text(GetLastError(), text)},
                               counts);
    }
    say({L"converted: ", path});
    ++counts.converted;
}

// A file is converted whatever its name; a folder gives each file directly inside it whose name
// ends in .wav in any letter case. The folder is listed whole and the long names compared here,
// since a pattern *.wav would also match song.wave through its 8.3 short name.
void take(const wchar_t* argument, std::wstring_view tool, Counts& counts) {
    wchar_t text[512];
    wchar_t full[path_room];
    DWORD const length = GetFullPathNameW(argument, path_room, full, nullptr);
    if (length == 0) return fail(argument, {system_text(GetLastError(), text)}, counts);
    if (length >= path_room) return fail(argument, {L"the path is too long"}, counts);
    std::wstring_view const path(full, length);
    DWORD const attributes = GetFileAttributesW(path.data());
    if (attributes == INVALID_FILE_ATTRIBUTES) return fail(path, {system_text(GetLastError(), text)}, counts);
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return convert_copy(path, tool, counts);

    // The pattern to list with, then the path of each file found, in turn.
    wchar_t file_room[path_room];
    std::wstring_view const pattern = compose(file_room, {path, separator(path), L"*"});
    if (pattern.empty()) return fail(path, {L"the path is too long"}, counts);
    WIN32_FIND_DATAW entry;
    HANDLE const listing = FindFirstFileW(pattern.data(), &entry);
    if (listing == INVALID_HANDLE_VALUE) return fail(path, {system_text(GetLastError(), text)}, counts);
    bool found = false;
    do {
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || !is_wav(entry.cFileName)) continue;
        found = true;
        std::wstring_view const file = compose(file_room, {path, separator(path), entry.cFileName});
        if (file.empty()) {
            fail(path, {L"the path of ", entry.cFileName, L" is too long"}, counts);
        } else {
            convert_copy(file, tool, counts);
        }
    } while (FindNextFileW(listing, &entry));
    DWORD const error = GetLastError();
    FindClose(listing);
    if (error != ERROR_NO_MORE_FILES) {
        return fail(path, {L"cannot list the folder: ", system_text(error, text)}, counts);
    }
    if (!found) fail(path, {L"no .wav file directly in this folder"}, counts);
}

// Explorer gives a program that it starts for a drop or a double-click a console window of its
// own, which closes when the program ends: then, and only then, this program is alone on its
// console and reads from it, and waits for Enter so that what it printed can be read.
void wait_if_alone_in_window() {
    DWORD processes[2];
    DWORD mode = 0;
    HANDLE const input = GetStdHandle(STD_INPUT_HANDLE);
    if (GetConsoleProcessList(processes, 2) != 1 || !GetConsoleMode(input, &mode)) return;
    say({L"Press Enter to close this window."});
    FlushConsoleInputBuffer(input);
    wchar_t line[256];
    DWORD read = 0;
    ReadConsoleW(input, line, sizeof line / sizeof line[0], &read, nullptr);
}

}  // namespace

int wmain(int argc, wchar_t* argv[]) {
    wchar_t self_room[path_room];
    wchar_t tool_room[path_room];
    DWORD const length = GetModuleFileNameW(nullptr, self_room, path_room);
    std::wstring_view const self(self_room, length < path_room ? length : 0);
    std::wstring_view const program = self.empty() ? L"drop-files-here.exe" : last_component(self);
    std::wstring_view const tool = compose(tool_room, {up_to_last_component(self), L"quoxel.exe"});

    if (argc < 2) {
        say({program, L" makes converted copies of WAV files, with the quoxel.exe"});
        say({L"beside it. Drop files or folders on it: each file dropped, and each .wav file"});
        say({L"directly inside a dropped folder, is copied into a folder \"converted\" beside"});
        say({L"it and converted there. The originals are never changed, and a file whose"});
        say({L"copy is in \"converted\" already is skipped, so a second drop does no harm."});
        say({L"From a Command Prompt: \"", program, L"\" \"C:\\path\\to\\file or folder\" ..."});
        wait_if_alone_in_window();
        return 0;
    }
    if (self.empty() || tool.empty() || GetFileAttributesW(tool.data()) == INVALID_FILE_ATTRIBUTES) {
        write(STD_ERROR_HANDLE,
              {L"quoxel.exe is not beside ", program, L": unpack the whole zip into one folder.\r\n"});
        wait_if_alone_in_window();
        return 1;
    }
    // The tool writes its reports to this program's standard error, which it must inherit.
    for (DWORD const which : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
        SetHandleInformation(GetStdHandle(which), HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    }

    Counts counts;
    for (int i = 1; i < argc; ++i) take(argv[i], tool, counts);
    wchar_t digits[3][20];
    say({decimal(counts.converted, digits[0]), L" converted, ", decimal(counts.skipped, digits[1]), L" skipped, ",
         decimal(counts.failed, digits[2]), L" failed."});
    wait_if_alone_in_window();
    return counts.failed == 0 ? 0 : 1;
}

// The lines of a drop in a Windows console, a pipe or a file: UTF-16 to a console, which then
// shows every script, and UTF-8 to a file or a pipe, each line ended by CRLF.
#include "output_windows.hpp"

#include <windows.h>

#include "output.hpp"
#include "paths.hpp"

namespace drop {

namespace {

// The console handler runs on a thread of its own, which the system starts; it finds the drop's
// stop flag here.
std::atomic<bool>* stop_flag = nullptr;
std::atomic<bool> closing{false};
HANDLE cleaned = nullptr;  // an event, set once the drop has cleaned up

BOOL WINAPI on_console_event(DWORD event) {
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) closing = true;
    stop_flag->store(true);
    // The process ends as soon as this returns from a closing window: wait for the clean-up first,
    // within the 5 seconds that Windows gives.
    if (closing) WaitForSingleObject(cleaned, 4500);
    return TRUE;
}

bool is_console(HANDLE handle) {
    DWORD mode = 0;
    return GetConsoleMode(handle, &mode) != 0;
}

void write_utf8_to(HANDLE handle, std::string_view bytes) {
    while (!bytes.empty()) {
        DWORD written = 0;
        DWORD const size = bytes.size() < 65536 ? static_cast<DWORD>(bytes.size()) : 65536;
        if (!WriteFile(handle, bytes.data(), size, &written, nullptr) || written == 0) return;
        bytes.remove_prefix(written);
    }
}

// The standard output and standard error handles, as they were valid at the start; null for one
// that was not, which is never written.
HANDLE streams[2] = {nullptr, nullptr};

}  // namespace

void open_standard_streams() {
    DWORD const which[2] = {STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    for (int i = 0; i < 2; ++i) {
        HANDLE const handle = GetStdHandle(which[i]);
        SetLastError(NO_ERROR);  // GetFileType fails, or finds a type it does not know, as FILE_TYPE_UNKNOWN
        bool const valid = handle != nullptr && handle != INVALID_HANDLE_VALUE &&
                           (GetFileType(handle) != FILE_TYPE_UNKNOWN || GetLastError() == NO_ERROR);
        streams[i] = valid ? handle : nullptr;
    }
}

// Each line ends in CRLF, as Windows ends lines: UTF-16 to a console, which then shows every
// script, and UTF-8 to a file or a pipe. A failed write has nowhere to be reported.
void write_lines(PathView lines, bool failure) {
    HANDLE const handle = streams[failure ? 1 : 0];
    if (handle == nullptr || lines.empty()) return;
    std::wstring text;
    text.reserve(lines.size() + lines.size() / 16);
    for (wchar_t const c : lines) {
        if (c == L'\n') text.push_back(L'\r');
        text.push_back(c);
    }
    if (is_console(handle)) {
        std::wstring_view rest = text;
        while (!rest.empty()) {
            // A piece never ends inside a surrogate pair, so that each character is shown whole.
            DWORD size = rest.size() < 16384 ? static_cast<DWORD>(rest.size()) : 16384;
            if (size < rest.size() && IS_HIGH_SURROGATE(rest[size - 1])) --size;
            DWORD written = 0;
            if (!WriteConsoleW(handle, rest.data(), size, &written, nullptr) || written == 0) return;
            rest.remove_prefix(written);
        }
        return;
    }
    int const size =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(), size, nullptr, nullptr);
    write_utf8_to(handle, utf8);
}

bool on_terminal() { return streams[0] != nullptr && is_console(streams[0]); }

std::size_t window_columns() {
    CONSOLE_SCREEN_BUFFER_INFO information;
    if (streams[0] == nullptr || !GetConsoleScreenBufferInfo(streams[0], &information)) return 80;
    int const width = information.srWindow.Right - information.srWindow.Left + 1;
    return width > 0 ? static_cast<std::size_t>(width) : 80;
}

std::string file_text(PathView lines) {
    std::wstring text;
    for (wchar_t const c : lines) {
        if (c == L'\n') text.push_back(L'\r');
        text.push_back(c);
    }
    int const size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(), size, nullptr, nullptr);
    return utf8;
}

Path readable(PathView path) { return shown(path); }

std::wstring text(std::string_view bytes) {
    if (bytes.empty()) return {};
    int const size = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring text(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(), size);
    return text;
}

std::wstring system_text(Error error, std::wstring_view subject) {
    wchar_t* buffer = nullptr;
    DWORD const length =
        FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
                       nullptr, error, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text = length == 0 ? L"error " + std::to_wstring(error) : filled({buffer, length}, subject);
    LocalFree(buffer);
    for (wchar_t& c : text) {
        if (c == L'\r' || c == L'\n') c = L' ';
    }
    while (!text.empty() && (text.back() == L' ' || text.back() == L'.')) text.pop_back();
    return text;
}

std::optional<std::wstring> console_title() {
    if (GetConsoleWindow() == nullptr) return std::nullopt;
    std::wstring title(1024, L'\0');
    title.resize(GetConsoleTitleW(title.data(), static_cast<DWORD>(title.size())));
    return title;
}

void set_console_title(const std::wstring& title) { SetConsoleTitleW(title.c_str()); }

void stop_on_console_events(std::atomic<bool>& stop) {
    stop_flag = &stop;
    cleaned = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(on_console_event, TRUE);
}

void cleaned_up() {
    if (cleaned != nullptr) SetEvent(cleaned);
}

bool alone_in_window() {
    DWORD processes[2];
    return GetConsoleProcessList(processes, 2) == 1 && is_console(GetStdHandle(STD_INPUT_HANDLE));
}

void wait_if_alone_in_window() {
    if (closing || !alone_in_window()) return;
    say(L"Press Enter to close this window.");
    flush_lines();
    HANDLE const input = GetStdHandle(STD_INPUT_HANDLE);
    FlushConsoleInputBuffer(input);
    wchar_t line[256];
    DWORD read = 0;
    ReadConsoleW(input, line, sizeof line / sizeof line[0], &read, nullptr);
}

std::optional<std::wstring> read_console_line() {
    HANDLE const input = GetStdHandle(STD_INPUT_HANDLE);
    std::wstring line;
    for (;;) {
        wchar_t piece[256];
        DWORD read = 0;
        if (!ReadConsoleW(input, piece, sizeof piece / sizeof piece[0], &read, nullptr) || read == 0) {
            if (line.empty()) return std::nullopt;
            return line;
        }
        line.append(piece, read);
        if (line.back() == L'\n') break;
    }
    while (!line.empty() && (line.back() == L'\n' || line.back() == L'\r')) line.pop_back();
    return line;
}

}  // namespace drop

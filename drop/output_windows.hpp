// What the drop program's user reads: lines on standard output and standard error, the system's
// texts, the progress in the console window's title, and the wait before that window closes.
#pragma once

#include <windows.h>

#include <atomic>
#include <optional>
#include <string>
#include <string_view>

namespace drop {

// Writes `text` as UTF-16 to a console, which then shows every script, or as UTF-8 to a file or
// a pipe. `which` is STD_OUTPUT_HANDLE or STD_ERROR_HANDLE. A failed write has nowhere to be
// reported, so its result is not tested.
void write(DWORD which, std::wstring_view text);

// UTF-8 text as UTF-16.
std::wstring from_utf8(std::string_view bytes);

// The system's text for `error` on one line, without its final full stop, with `subject` (the
// program or file the error is about) in place of any insert such as %1.
std::wstring system_text(DWORD error, std::wstring_view subject = L"");

// The title of this program's console window, when it has one; and a new title for it.
std::optional<std::wstring> console_title();
void set_console_title(const std::wstring& title);

// Explorer gives a program that it starts for a drop or a double-click a console window of its
// own, which closes when the program ends: then, and only then, this program is alone on its
// console and reads from it, and this waits for Enter so that what it printed can be read; but
// not in a window that is closing.
void wait_if_alone_in_window();

// Sets `stop` when the user presses Ctrl+C or Ctrl+Break or closes the console window, instead of
// ending the process at once. A closing window ends the process when the handler returns, within
// about 5 seconds: the handler waits until `cleaned_up` says that the drop has removed its
// temporary copies and written its summary.
void stop_on_console_events(std::atomic<bool>& stop);
void cleaned_up();

}  // namespace drop

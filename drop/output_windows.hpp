// What only a Windows console has, beside the lines of output.hpp: the stop by Ctrl+C or a
// closing window, and the wait before that window closes.
#pragma once

#include <atomic>
#include <optional>
#include <string>

namespace drop {

// Explorer gives a program that it starts for a drop or a double-click a console window of its
// own, which closes when the program ends: then, and only then, this program is alone on its
// console and reads from it.
bool alone_in_window();

// Where the program is alone in its window, this waits for Enter so that what it printed can be
// read; but not in a window that is closing.
void wait_if_alone_in_window();

// A line typed into the console, without its end; none once nothing more can be read.
std::optional<std::wstring> read_console_line();

// Started with nothing, alone in its window: says what the right-click menu holds, and adds its
// entries or takes them away as the user answers (menu.hpp). Returns whether the window should
// then wait for Enter. In explorer_windows.cpp.
bool offer_menu_in_window();

// Sets `stop` when the user presses Ctrl+C or Ctrl+Break or closes the console window, instead of
// ending the process at once. A closing window ends the process when the handler returns, within
// about 5 seconds: the handler waits until `cleaned_up` says that the drop has removed its
// temporary copies and written its summary.
void stop_on_console_events(std::atomic<bool>& stop);
void cleaned_up();

}  // namespace drop

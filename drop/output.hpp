// What a drop's user reads, declared once: its lines, names shown readably, the system's texts,
// and the progress in a console window's title. Each platform writes them to its console or
// terminal (output_windows.cpp, output_posix.cpp); their words are portable.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "copy.hpp"

namespace drop {

// Makes sure that no file a drop opens takes the place of a standard stream, and that a line is
// never written into one: on Linux each of the descriptors 0, 1 and 2 that is closed is opened
// on /dev/null; on Windows a standard handle that is not valid at the start is never written.
// The first call of a drop program.
void open_standard_streams();

// Whether the lines go to a person who reads them as they come, in a terminal or a console
// window: then the progress shows in one row redrawn in place, a file gets a line only where it
// needs the person, and paths are named as the person gave them. Otherwise a program or a file
// reads them, which gets a line for each file, with its whole path. Decided once, by the program.
void set_window(bool window);
bool window();

// Holds `line` back to be written whole, no two lines mixed, on standard output, or on standard
// error for a `failure`; and writes out all that is held back, in the order it was said. A line
// `for_listing` alone is one that a window never shows: a file converted or skipped as expected.
void say(PathView line, bool failure = false, bool for_listing = false);
void flush_lines();

// Shows `row` as the progress, in one row below the lines, redrawn in place, in a window only;
// an empty row takes it away. Lines said later are written above it.
void show_progress(PathView row);

// Whether standard output is a terminal or a console; and how many columns its window has, 80
// where it cannot say.
bool on_terminal();
std::size_t window_columns();

// Writes `lines`, each ended by '\n', to standard output or standard error, as the platform ends
// a line. A stream that cannot be written is written no more, and the drop goes on: no line is
// ever written anywhere else.
void write_lines(PathView lines, bool failure);

// Portable words, in UTF-8, as the platform's text.
Path text(std::string_view utf8);

// `lines`, each ended by '\n', as a text file of this platform holds them: in UTF-8, each line
// ended by CRLF on Windows.
std::string file_text(PathView lines);

// A path as a line shows it: on Windows without the extended prefix; on POSIX each byte that is
// no part of a UTF-8 character, each control character and each backslash as \xNN or \\.
Path readable(PathView path);

// The system's text for `error` on one line, without its final full stop, naming `subject`, the
// file it is about, where the text has a place for it.
Path system_text(Error error, PathView subject = {});

// The title of this program's console window, where it has one; and a new title for it.
std::optional<Path> console_title();
void set_console_title(const Path& title);

}  // namespace drop

// What a drop's user reads, declared once: its lines, names shown readably, the system's texts,
// and the progress in a console window's title. Each platform writes them to its console or
// terminal (output_windows.cpp, output_posix.cpp); their words are portable.
#pragma once

#include <optional>
#include <string_view>

#include "copy.hpp"

namespace drop {

// Makes sure that no file a drop opens takes the place of a standard stream, and that a line is
// never written into one: on Linux each of the descriptors 0, 1 and 2 that is closed is opened
// on /dev/null; on Windows a standard handle that is not valid at the start is never written.
// The first call of a drop program.
void open_standard_streams();

// Holds `line` back to be written whole, no two lines mixed, on standard output, or on standard
// error for a `failure`; and writes out all that is held back, in the order it was said.
void say(PathView line, bool failure = false);
void flush_lines();

// Writes `lines`, each ended by '\n', to standard output or standard error, as the platform ends
// a line. A stream that cannot be written is written no more, and the drop goes on: no line is
// ever written anywhere else.
void write_lines(PathView lines, bool failure);

// Portable words, in UTF-8, as the platform's text.
Path text(std::string_view utf8);

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

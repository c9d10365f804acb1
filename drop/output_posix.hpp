// What the drop program's user reads on Linux: lines on standard output and standard error,
// names shown readably whatever their bytes, the system's texts, the signals that stop a drop,
// and the wait for Enter in a terminal window that a desktop opened for it.
#pragma once

#include <atomic>
#include <string>
#include <string_view>

namespace drop {

// Writes `line` and a newline to standard output, or to standard error for `failure`, whole: no
// two lines mix. Standard output is written in blocks when it is no terminal, so that thousands
// of lines cost a pipe few writes, and is written out before each line on standard error, so
// that both keep their order in one file. A stream whose reader has gone (EPIPE) is written no
// more; the drop goes on.
void say(std::string_view line, bool failure = false);
void flush_lines();

// `name`, bytes as the kernel keeps them, as a line shows it: UTF-8 as it is, and each byte that
// is no part of a character, each control character and each backslash as \xNN or \\, so that a
// name that is not UTF-8, or holds a newline, still gives one readable line.
std::string readable(std::string_view name);

// The system's text for errno `error`: "No such file or directory".
std::string system_text(int error);

// From now on SIGINT, SIGTERM and SIGHUP (a closed terminal window) set the flag returned,
// instead of ending the process; stopping_signal() then says which. SIGPIPE and SIGXFSZ are
// ignored: a write to a closed pipe or past the file size limit fails instead.
const std::atomic<bool>& stop_on_signals();
int stopping_signal();

// Waits until the user presses Enter, when standard input is a terminal; a signal also ends it.
void wait_for_enter();

}  // namespace drop

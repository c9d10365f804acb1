// What only a Linux terminal has, beside the lines of output.hpp: the signals that stop a drop,
// and the wait for Enter in a terminal window that a desktop opened for it.
#pragma once

#include <atomic>

namespace drop {

// From now on SIGINT, SIGTERM and SIGHUP (a closed terminal window) set the flag returned,
// instead of ending the process; stopping_signal() then says which. SIGPIPE and SIGXFSZ are
// ignored: a write to a closed pipe or past the file size limit fails instead.
const std::atomic<bool>& stop_on_signals();
int stopping_signal();

// Waits until the user presses Enter, when standard input is a terminal; a signal also ends it.
void wait_for_enter();

}  // namespace drop

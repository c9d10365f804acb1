// A drop from its arguments to its summary, the same on every platform, once the program has
// read its options.
#pragma once

#include <atomic>
#include <span>

#include "summary.hpp"

namespace drop {

// Finds the files that `arguments` give, converts them on a few threads until `stop` is set, and
// says how it went: the line of each file, the counts, and the failures once more. Returns the
// counts.
Counts drop_files(std::span<const Path::value_type* const> arguments, const std::atomic<bool>& stop);

}  // namespace drop

// What only Windows asks of its file system, beside the calls of system.hpp.
#pragma once

#include <string>

#include "copy.hpp"

namespace drop {

// Where the file or folder `path` (extended) really is: links followed, every name long and in
// the letter case it has on disk. Empty when the system cannot say.
std::wstring final_path(const std::wstring& path);

}  // namespace drop

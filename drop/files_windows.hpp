// The file calls of a conversion, as Windows makes them.
#pragma once

#include <string>

#include "copy.hpp"

namespace drop {

Files& windows_files();

// Where the file or folder `path` (extended) really is: links followed, every name long and in
// the letter case it has on disk. Empty when the system cannot say.
std::wstring final_path(const std::wstring& path);

}  // namespace drop

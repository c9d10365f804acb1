// The file calls of a conversion, as Windows makes them.
#pragma once

#include "copy.hpp"

namespace drop {

Files& windows_files();

}  // namespace drop

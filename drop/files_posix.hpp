// The file calls of a conversion, as POSIX systems make them.
#pragma once

#include "copy.hpp"

namespace drop {

Files& posix_files();

}  // namespace drop

// The report of a drop whose files failed: a text file that stays in a folder of copies after
// the window closes, with every failure's whole line and the end.
#pragma once

#include <functional>
#include <vector>

#include "copy.hpp"

namespace drop {

// "quoxel report 2026-12-10 08-01-09.txt", for a drop that ends at `moment` (broken down as local
// time), or with " (2)" and on before ".txt" for the `attempt`th where that name is taken.
struct Moment {
    int year, month, day, hour, minute, second;
};
Path report_name(const Moment& moment, unsigned attempt);

// Writes the lines that `content` gives for the file's whole path, as the platform keeps text,
// to a new file in the held `folder`: never through a link, never over a file that is there
// (a name that is taken is tried with another). 0 with the file's `name`, or the error.
Error write_report(Files& files, const Folder& folder, const std::function<std::vector<Path>(const Path&)>& content,
                   Path& name);

}  // namespace drop

// Converting copies: each file copied into its folder of converted copies under a temporary
// name, converted there by quoxel.exe, several at a time, and given its own name only once the
// tool has succeeded.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "walk.hpp"

namespace drop {

struct Counts {
    std::size_t converted = 0;
    std::size_t skipped = 0;
    std::size_t failed = 0;
};

// Converts a copy of the file of each job with the program `tool`, `at_once` copies at a time,
// and writes one numbered line for each job as it ends: "converted", "skipped" (its copy exists)
// or "failed" with why, on standard error, just after the tool's own report. A folder of copies
// is first cleared of the temporary copies that a drop which ended before its work left there.
void convert(const std::vector<Job>& jobs, const std::wstring& tool, std::size_t at_once, Counts& counts);

}  // namespace drop

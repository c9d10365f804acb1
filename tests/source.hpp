// What the tests take from the project's sources instead of repeating it: where each failure
// report is made, and numbers such as a block size. A test that states the line of a report or
// the size of a block then fails as soon as the code and the test disagree.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// A check that reports a failure: in the function `function` of the source file `source`
// ("quoxel.cpp", without a folder, as a report names it), at line `line`, for the call `call`
// ("fseek") or, in the message form, with the message `call` ("bad offset").
struct ReportSite {
    std::string source;
    std::string function;
    std::string call;
    int line;
};

// Every report in `source` (a path from the top of the source tree), in the order of the file.
// The function of a report is the last definition above it: a line that starts in the first
// column and ends with ") {".
std::vector<ReportSite> report_sites(const std::string& source);

// The `nth` report of `call` in `function` of `source`, counted from 1. Throws when there is none.
ReportSite report_site(const std::string& source, const std::string& function, const std::string& call, int nth = 1);

// The number that the first group of `pattern` (an ECMAScript regex) matches, in the first line
// of `source` where it matches. Throws when no line does.
std::size_t source_number(const std::string& source, const std::string& pattern);

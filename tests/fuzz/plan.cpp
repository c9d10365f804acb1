// Fuzz target: the plan of a drop (finish and sort_names of drop/plan.cpp) with the POSIX
// comparison of names. The input is files cut at each NUL, each a path below "/" whose first byte
// says how many of its folders are the folder that was given; a file may come more than once,
// given through several folders. The plan keeps each file once, into its outermost folder of
// copies and in the order given, a copy's path never leaves its folder of copies, the first
// of each set of case twins is unmarked and the others are marked, and a folder's names stand in
// one order whatever order they were listed in.
#include <algorithm>
#include <map>

#include "fuzz.hpp"
#include "paths.hpp"
#include "walk.hpp"

using namespace drop;

namespace {

// A file given: its path, and the folder of copies and the path inside it that its job has.
struct Given {
    std::string source, copies, relative;
};

// The file that `part` describes, or nothing where it names no file below "/".
std::optional<Given> given(std::string_view part) {
    if (part.empty()) return std::nullopt;
    std::vector<std::string_view> names;
    for (std::size_t start = 1, end = 0; end != std::string_view::npos; start = end + 1) {
        end = part.find('/', start);
        std::string_view const name = part.substr(start, end == std::string_view::npos ? end : end - start);
        if (!name.empty() && name != "." && name != "..") names.push_back(name);
    }
    if (names.empty()) return std::nullopt;
    std::size_t const top = static_cast<std::uint8_t>(part[0]) % names.size();  // the folders of the folder given
    std::string folder = "/", relative;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i < top) folder = join(folder, names[i]);
        else relative = join(relative, names[i]);
    }
    return Given{join(folder, relative), join(folder, "converted"), relative};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<Given> files;
    for (std::string_view const part : fuzz::names(data, size)) {
        if (std::optional<Given> file = given(part)) files.push_back(*file);
    }
    Work work;
    for (const Given& file : files) add_job(work, file.source, file.copies, file.relative.size());
    finish(work, compare_ignoring_case);

    // The job kept of each file: the first given of those into its outermost folder of copies.
    std::map<std::string, std::size_t> kept;
    for (std::size_t i = 0; i < files.size(); ++i) {
        auto const [known, added] = kept.try_emplace(files[i].source, i);
        if (!added && files[i].copies.size() < files[known->second].copies.size()) known->second = i;
    }
    std::vector<std::size_t> expected;
    for (const auto& [source, index] : kept) expected.push_back(index);
    std::sort(expected.begin(), expected.end());
    holds(work.jobs.size() == expected.size());

    std::vector<std::string_view> folders;
    for (std::size_t i = 0; i < work.jobs.size(); ++i) {
        const Job& job = work.jobs[i];
        const Given& file = files[expected[i]];
        holds(job.source == file.source && work.copies[job.copies] == file.copies && relative(job) == file.relative);
        std::string const copy = join(work.copies[job.copies], relative(job));
        holds(copy.starts_with(work.copies[job.copies] + "/") && inside_converted(std::string_view(copy), false));
        bool twin = false;
        for (std::size_t j = 0; j < i; ++j) {
            const Job& before = work.jobs[j];
            twin = twin || (compare_ignoring_case(work.copies[before.copies], work.copies[job.copies]) == 0 &&
                            compare_ignoring_case(relative(before), relative(job)) == 0);
        }
        holds(job.case_twin == twin);
        folders.push_back(parent(std::string_view(job.source)));
    }
    std::sort(folders.begin(), folders.end());
    holds(work.folders == static_cast<std::size_t>(std::unique(folders.begin(), folders.end()) - folders.begin()));

    // A folder's names: its files' relative paths, listed in the order given and in the reverse.
    std::vector<Path> listed, reversed;
    for (const Given& file : files) listed.push_back(file.relative);
    reversed.assign(listed.rbegin(), listed.rend());
    std::vector<Path> names = listed;
    sort_names(names, compare_ignoring_case);
    sort_names(reversed, compare_ignoring_case);
    holds(names == reversed);
    for (std::size_t i = 1; i < names.size(); ++i) {
        int const order = compare_ignoring_case(names[i - 1], names[i]);
        holds(order < 0 || (order == 0 && names[i - 1] <= names[i]));
    }
    std::sort(listed.begin(), listed.end());
    std::sort(reversed.begin(), reversed.end());
    holds(listed == reversed);
    return 0;
}

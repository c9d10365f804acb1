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

// A file given: the folder given, the folder of the file below it, and its name.
struct Dropped {
    std::string top, relative, name;
    std::string source() const { return join(relative.empty() ? top : join(top, relative), name); }
    std::string copy() const { return join(join(top, "converted"), relative.empty() ? name : join(relative, name)); }
};

// The file that `part` describes, or nothing where it names no file below "/".
std::optional<Dropped> given(std::string_view part) {
    if (part.empty()) return std::nullopt;
    std::vector<std::string_view> names;
    for (std::size_t start = 1, end = 0; end != std::string_view::npos; start = end + 1) {
        end = part.find('/', start);
        std::string_view const name = part.substr(start, end == std::string_view::npos ? end : end - start);
        if (!name.empty() && name != "." && name != "..") names.push_back(name);
    }
    if (names.empty()) return std::nullopt;
    std::size_t const top = static_cast<std::uint8_t>(part[0]) % names.size();  // the folders of the folder given
    Dropped file{"/", "", std::string(names.back())};
    for (std::size_t i = 0; i + 1 < names.size(); ++i) {
        if (i < top) file.top = join(file.top, names[i]);
        else file.relative = file.relative.empty() ? std::string(names[i]) : join(file.relative, names[i]);
    }
    return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<Dropped> files;
    for (std::string_view const part : fuzz::names(data, size)) {
        if (std::optional<Dropped> file = given(part)) files.push_back(*file);
    }
    // The work that the walk would give: each folder known by an identity of its own path, a
    // folder given once however often, and a source for each file.
    Work work;
    std::map<std::string, std::uint64_t> identities;
    const auto identity = [&](const std::string& path) {
        return Identity{1, identities.emplace(path, identities.size() + 1).first->second};
    };
    for (const Dropped& file : files) {
        Identity const top = identity(file.top);
        auto known = std::find_if(work.tops.begin(), work.tops.end(), [&](const Top& t) { return t.identity == top; });
        if (known == work.tops.end()) known = work.tops.insert(known, {Folder{no_handle, file.top, false, 0, false, {}}, top});
        work.sources.push_back({static_cast<std::uint32_t>(known - work.tops.begin()), file.relative,
                                identity(file.relative.empty() ? file.top : join(file.top, file.relative))});
        work.jobs.push_back({file.name, static_cast<std::uint32_t>(work.sources.size() - 1), false, false});
    }
    finish(work, compare_ignoring_case);

    // The job kept of each file: the first given of those into its outermost folder of copies.
    std::map<std::string, std::size_t> kept;
    for (std::size_t i = 0; i < files.size(); ++i) {
        auto const [known, added] = kept.try_emplace(files[i].source(), i);
        if (!added && files[i].top.size() < files[known->second].top.size()) known->second = i;
    }
    std::vector<std::size_t> expected;
    for (const auto& [source, index] : kept) expected.push_back(index);
    std::sort(expected.begin(), expected.end());
    holds(work.jobs.size() == expected.size());

    std::vector<std::string> folders;
    for (std::size_t i = 0; i < work.jobs.size(); ++i) {
        const Job& job = work.jobs[i];
        const Dropped& file = files[expected[i]];
        const Top& top = work.tops[source_of(work, job).top];
        std::string const copies = join(top.folder.path, "converted"), copy = join(copies, copy_path(work, job));
        holds(original_path(work, job) == file.source() && copy == file.copy());
        holds(copy.starts_with(copies + "/") && inside_converted(std::string_view(copy), false));
        bool twin = false;
        for (std::size_t j = 0; j < i; ++j) {
            const Job& before = work.jobs[j];
            twin = twin || (source_of(work, before).top == source_of(work, job).top &&
                            compare_ignoring_case(copy_path(work, before), copy_path(work, job)) == 0);
        }
        holds(job.case_twin == twin);
        folders.emplace_back(parent(std::string_view(file.source())));
    }
    std::sort(folders.begin(), folders.end());
    holds(work.folders == static_cast<std::size_t>(std::unique(folders.begin(), folders.end()) - folders.begin()));

    // A folder's names: its files' paths below the folder given, listed in the order given and in
    // the reverse.
    std::vector<Path> listed, reversed;
    for (const Dropped& file : files) listed.push_back(file.relative.empty() ? file.name : join(file.relative, file.name));
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

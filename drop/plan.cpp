// The decisions that make the jobs of a drop final; portable, so that they are tested natively.
#include <algorithm>
#include <numeric>
#include <tuple>

#include "paths.hpp"
#include "walk.hpp"

namespace drop {

bool name_before(PathView a, PathView b, Compare compare_ignoring_case) {
    int const order = compare_ignoring_case(a, b);
    return order < 0 || (order == 0 && a < b);
}

void sort_names(std::vector<Path>& names, Compare compare_ignoring_case) {
    std::sort(names.begin(), names.end(),
              [&](const Path& a, const Path& b) { return name_before(a, b, compare_ignoring_case); });
}

Path original_path(const Work& work, const Job& job) {
    const Source& source = source_of(work, job);
    const Path& top = work.tops[source.top].folder.path;
    return join(source.relative.empty() ? top : join(top, source.relative), job.name);
}

Path copy_path(const Work& work, const Job& job) {
    const Source& source = source_of(work, job);
    return source.relative.empty() ? job.name : join(source.relative, job.name);
}

void finish(Work& work, Compare compare_ignoring_case) {
    std::vector<Job>& jobs = work.jobs;
    std::vector<std::size_t> order(jobs.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    const auto folder_of = [&](std::size_t i) -> const Source& { return work.sources[jobs[i].source]; };
    // A file's identity: its folder's, or where the system gave none, the folder's path.
    const auto file_of = [&](std::size_t i) {
        const Source& source = folder_of(i);
        bool const known = source.identity != Identity{};
        return std::make_tuple(known, known ? source.identity.device : 0, known ? source.identity.file : 0,
                               known ? Path() : original_path(work, jobs[i]), std::cref(jobs[i].name));
    };

    // The jobs of one file stand together, the one with the outermost folder of copies first: the
    // same folder reached from an outer folder given lies deeper below it.
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        auto const x = file_of(a), y = file_of(b);
        if (x != y) return x < y;
        return folder_of(a).relative.size() > folder_of(b).relative.size();
    });
    std::vector<bool> again(jobs.size(), false);
    for (std::size_t i = 1; i < order.size(); ++i) again[order[i]] = file_of(order[i]) == file_of(order[i - 1]);
    std::size_t kept = 0;
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        if (again[i]) continue;
        if (kept != i) jobs[kept] = std::move(jobs[i]);  // a string moved onto itself is left empty
        ++kept;
    }
    jobs.resize(kept);

    // Case twins: two files whose copies' paths in one folder of copies, folders included, differ
    // only in letter case. Each after the first of its kind is marked.
    std::vector<Path> copies(jobs.size());
    for (std::size_t i = 0; i < jobs.size(); ++i) copies[i] = copy_path(work, jobs[i]);
    const auto compare_copies = [&](std::size_t a, std::size_t b) {
        std::uint32_t const top_a = work.sources[jobs[a].source].top, top_b = work.sources[jobs[b].source].top;
        if (top_a != top_b) return top_a < top_b ? -1 : 1;
        return compare_ignoring_case(copies[a], copies[b]);
    };
    order.resize(jobs.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return compare_copies(a, b) < 0; });
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        jobs[order[i]].case_twin = i > 0 && compare_copies(order[i], order[i - 1]) == 0;
    }

    // Folders by their identity: a folder listed twice is one.
    std::vector<std::tuple<std::uint64_t, std::uint64_t, std::uint32_t>> folders;
    for (const Job& job : jobs) {
        const Source& source = work.sources[job.source];
        if (source.identity != Identity{}) folders.emplace_back(source.identity.device, source.identity.file, 0);
        else folders.emplace_back(0, 0, job.source);
    }
    std::sort(folders.begin(), folders.end());
    work.folders = static_cast<std::size_t>(std::unique(folders.begin(), folders.end()) - folders.begin());
}

}  // namespace drop

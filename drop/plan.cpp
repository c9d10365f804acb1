// The decisions that make the jobs of a drop final; portable, so that they are tested natively.
#include <algorithm>
#include <numeric>

#include "paths.hpp"
#include "walk.hpp"

namespace drop {

void sort_names(std::vector<Path>& names, Compare compare_ignoring_case) {
    std::sort(names.begin(), names.end(), [&](const Path& a, const Path& b) {
        int const order = compare_ignoring_case(a, b);
        return order < 0 || (order == 0 && a < b);
    });
}

void add_job(Work& work, Path source, const Path& copies, std::size_t relative) {
    auto known = std::find(work.copies.begin(), work.copies.end(), copies);
    if (known == work.copies.end()) known = work.copies.insert(known, copies);
    auto const start = static_cast<std::uint32_t>(source.size() - relative);
    work.jobs.push_back({std::move(source), static_cast<std::uint32_t>(known - work.copies.begin()), start, false});
}

void finish(Work& work, Compare compare_ignoring_case) {
    std::vector<Job>& jobs = work.jobs;
    std::vector<std::size_t> order(jobs.size());
    std::iota(order.begin(), order.end(), std::size_t{0});

    // The jobs of one file stand together, the one with the outermost folder of copies first: a
    // folder's copies hold those of every folder below it.
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        if (jobs[a].source != jobs[b].source) return jobs[a].source < jobs[b].source;
        return work.copies[jobs[a].copies].size() < work.copies[jobs[b].copies].size();
    });
    std::vector<bool> again(jobs.size(), false);
    for (std::size_t i = 1; i < order.size(); ++i) again[order[i]] = jobs[order[i]].source == jobs[order[i - 1]].source;
    std::size_t kept = 0;
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        if (again[i]) continue;
        if (kept != i) jobs[kept] = std::move(jobs[i]);  // a string moved onto itself is left empty
        ++kept;
    }
    jobs.resize(kept);

    // Case twins: two files whose copies' paths, folders included, differ only in letter case.
    // Each after the first of its kind is marked.
    const auto compare_copies = [&](std::size_t a, std::size_t b) {
        int const order_of_folders = compare_ignoring_case(work.copies[jobs[a].copies], work.copies[jobs[b].copies]);
        return order_of_folders != 0 ? order_of_folders : compare_ignoring_case(relative(jobs[a]), relative(jobs[b]));
    };
    order.resize(jobs.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return compare_copies(a, b) < 0; });
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        jobs[order[i]].case_twin = i > 0 && compare_copies(order[i], order[i - 1]) == 0;
    }

    std::vector<PathView> folders;
    for (const Job& job : jobs) folders.push_back(parent(PathView(job.source)));
    std::sort(folders.begin(), folders.end());
    work.folders = static_cast<std::size_t>(std::unique(folders.begin(), folders.end()) - folders.begin());
}

}  // namespace drop

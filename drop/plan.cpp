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

void finish(Work& work, Compare compare_ignoring_case) {
    std::vector<Job>& jobs = work.jobs;
    std::vector<std::size_t> order(jobs.size());
    std::iota(order.begin(), order.end(), std::size_t{0});

    // The jobs of one file stand together, the one with the outermost folder of copies first: a
    // folder's copies hold those of every folder below it.
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        if (jobs[a].source != jobs[b].source) return jobs[a].source < jobs[b].source;
        return jobs[a].copies.size() < jobs[b].copies.size();
    });
    std::vector<bool> again(jobs.size(), false);
    for (std::size_t i = 1; i < order.size(); ++i) again[order[i]] = jobs[order[i]].source == jobs[order[i - 1]].source;
    std::vector<Job> kept;
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        if (!again[i]) kept.push_back(std::move(jobs[i]));
    }
    jobs = std::move(kept);

    // Case twins: two files whose copies' paths, folders included, differ only in letter case.
    // Each after the first of its kind is marked.
    const auto copy_path = [&](std::size_t i) { return join(jobs[i].copies, jobs[i].relative); };
    order.resize(jobs.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::vector<Path> paths(jobs.size());
    for (std::size_t i = 0; i < jobs.size(); ++i) paths[i] = copy_path(i);
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return compare_ignoring_case(paths[a], paths[b]) < 0; });
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        jobs[order[i]].case_twin = i > 0 && compare_ignoring_case(paths[order[i]], paths[order[i - 1]]) == 0;
    }

    std::vector<Path> folders;
    for (const Job& job : jobs) folders.emplace_back(parent(job.source));
    std::sort(folders.begin(), folders.end());
    work.folders = static_cast<std::size_t>(std::unique(folders.begin(), folders.end()) - folders.begin());
}

}  // namespace drop

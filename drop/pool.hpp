// A fixed pool of worker threads that take runs of jobs from one list, each with a buffer of its
// own, while the calling thread receives the results in the order the jobs end: the lines are
// written by one thread, so that no two of them mix.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <span>
#include <thread>
#include <utility>
#include <vector>

namespace drop {

constexpr std::size_t block_size = std::size_t{1} << 20;  // bytes read and written per call

// How many jobs run at once on a machine of `processors` processors. A small file costs a few
// file system calls that wait on the disk and on any scanner of new files, so more threads than
// processors keep the processors busy; past a few the disk is the limit.
constexpr std::size_t threads_for(std::size_t processors) {
    return std::clamp<std::size_t>(2 * processors, 2, 8);
}

// The same, unless `setting`, the environment's QUOXEL_DROP_THREADS where it is set, says how
// many from 1 to 64, as the benchmarks do to measure the choice.
inline std::size_t threads_for(std::size_t processors, const char* setting) {
    if (setting != nullptr) {
        long const n = std::strtol(setting, nullptr, 10);
        if (n >= 1 && n <= 64) return static_cast<std::size_t>(n);
    }
    return threads_for(processors == 0 ? 1 : processors);
}

// What is done after a batch of results when nothing is to be done.
struct NoBatch {
    void operator()() const {}
};

// Runs `work(task, buffer, results, deliver)` for each task below `count` on `threads` threads,
// each task adding to `results` the (index, result) pair of each job of it that ran, and hands
// each result to `report(index, result)` on the calling thread, in batches of the results that
// ended meanwhile, each batch followed by `after_batch()`, which is also called every tenth of a
// second while no result comes, so that a progress shown goes on during a long file. A task is a
// run of jobs, so that a thread takes work and gives back its results once for many small files;
// it may give back those it has sooner by calling `deliver()`, as a run of large files does after
// each of them. Once `stop` is set no task starts; the tasks at work end as `work` ends them.
// Returns how many results were reported.
template <class Result, class Work, class Report, class Batch = NoBatch>
std::size_t run_pool(std::size_t count, std::size_t threads, const std::atomic<bool>& stop, Work work,
                     Report report, Batch after_batch = {}) {
    using Results = std::vector<std::pair<std::size_t, Result>>;
    std::mutex mutex;
    std::condition_variable changed;
    Results ended;  // results not yet reported
    std::size_t const started = std::min(threads, count);
    std::size_t running = started;  // threads not yet ended; under the mutex, like `ended`
    std::atomic<std::size_t> next{0};

    std::vector<std::thread> pool;
    for (std::size_t t = 0; t < started; ++t) {
        pool.emplace_back([&] {
            std::vector<std::uint8_t> buffer(block_size);
            Results results;
            const auto deliver = [&] {
                if (results.empty()) return;
                // The calling thread waits only for an empty list: results added to a list that
                // holds others need no wake-up, which under Wine costs a round trip to its server.
                std::lock_guard const lock(mutex);
                bool const was_empty = ended.empty();
                for (auto& result : results) ended.push_back(std::move(result));
                results.clear();
                if (was_empty) changed.notify_one();
            };
            for (;;) {
                if (stop.load()) break;
                std::size_t const task = next.fetch_add(1);
                if (task >= count) break;
                work(task, std::span<std::uint8_t>(buffer), results, deliver);
                deliver();
            }
            std::lock_guard const lock(mutex);
            --running;
            changed.notify_one();
        });
    }

    // The results are taken all at once and reported outside the lock, so that no thread waits
    // for a line to be written.
    std::size_t ran = 0;
    Results taken;
    std::unique_lock lock(mutex);
    for (;;) {
        if (!changed.wait_for(lock, std::chrono::milliseconds(100), [&] { return !ended.empty() || running == 0; })) {
            lock.unlock();
            after_batch();
            lock.lock();
            continue;
        }
        if (ended.empty()) break;
        taken.swap(ended);
        lock.unlock();
        for (auto& [index, result] : taken) report(index, result);
        after_batch();
        ran += taken.size();
        taken.clear();
        lock.lock();
    }
    lock.unlock();
    for (std::thread& thread : pool) thread.join();
    return ran;
}

}  // namespace drop

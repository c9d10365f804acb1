// Converting copies, the same on every platform: runs of jobs on a few threads, each job (where
// its link leads, its copy's name already taken, something else in its place, the case twins,
// the mirror folders, the temporary copy) ended with its verdict and its numbered line. Every
// call names a file in a folder the drop holds: the folder of the original, opened beneath the
// folder given and found to be the one the walk listed, and the copy's folder, opened beneath
// the folder of copies, through no link. A copy takes its name only once its bytes are on the
// disk, and carries its original's time of writing, which tells the next drop whether the
// original changed since.
#include "convert.hpp"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <tuple>

#include "copies.hpp"
#include "verdict.hpp"
#include "output.hpp"
#include "paths.hpp"
#include "progress.hpp"
#include "system.hpp"

namespace drop {

namespace {

// Jobs that a thread takes at once, and the bytes it writes before it flushes them and gives
// them their names: a small file costs a wake-up of no thread, and a flush of no file alone.
constexpr std::size_t jobs_per_run = 64;
constexpr std::uint64_t bytes_per_run = std::uint64_t{64} << 20;
constexpr std::size_t held_mirrors = 4;

// The flushes of one folder of copies, shared by the threads: a thread whose copies are written
// waits for the next flush that starts after it asks, or starts it, so that threads that finish
// their copies at the same time wait for one flush of the file system, not one each.
struct Flushes {
    std::mutex mutex;
    std::condition_variable ended;
    std::uint64_t started = 0, done = 0;  // flushes started and ended, in order
    bool running = false;
    Error error = 0;               // of the last flush that failed,
    std::uint64_t failed = 0;      // the number of that flush
};

// What is written in the file system of `folder` on the disk, by a flush that starts after this
// call: 0, or the error of a flush since then.
Error flush_all(Flushes& flushes, Files& files, const Folder& folder) {
    std::unique_lock lock(flushes.mutex);
    std::uint64_t const needed = flushes.started + 1;
    for (;;) {
        if (flushes.done >= needed) return flushes.failed >= needed ? flushes.error : 0;
        if (flushes.running) {
            flushes.ended.wait(lock);
            continue;
        }
        flushes.running = true;
        std::uint64_t const number = ++flushes.started;
        lock.unlock();
        Error const error = files.flush_all(folder);
        lock.lock();
        flushes.done = number;
        flushes.running = false;
        if (error != 0) {
            flushes.error = error;
            flushes.failed = number;
        }
        flushes.ended.notify_all();
    }
}

// What the conversion of all jobs keeps track of.
struct Session {
    const Work& work;
    std::uint32_t process_id;
    std::atomic<std::uint64_t> copies_made;  // numbers the temporary copies
    std::vector<Copies> copies;              // of each top, made ready where jobs use it
    std::vector<Flushes> flushes;            // of each of them
    std::size_t done, total;                 // jobs ended, of all
    Counts& counts;
    std::vector<Failure>& failures;
    std::vector<bool> received;  // of each top: whether its folder of copies holds a copy of a job
    std::optional<Path> title;  // the console window's title before the drop
    Path progress;              // of the job that ended last: "[12/3000] "
    std::vector<Made> made;     // folders this drop made below the folders of copies
    std::vector<Identity> copies_found;  // every folder of copies, whose files no link may give
    std::vector<Identity> tree;          // the folders of the originals, in the order `before` gives
    std::atomic<std::uint64_t> bytes{0};  // read so far, by every thread
    std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now(), drawn{};
    Path at_work;  // the folder of the job that ended last, as a window names it
};

// An order of identities, for a search among many.
bool before(const Identity& a, const Identity& b) { return std::tie(a.device, a.file) < std::tie(b.device, b.file); }

// Ends `job` with its numbered line: for a program or a file, every job's, with its whole path;
// in a window, only what the person must know, named from the folder given.
void end(Session& session, const Job& job, Ended& ended) {
    ++session.done;
    // Appended piece by piece: GCC 12 warns of an overlapping copy, wrongly, for a literal + a
    // temporary string.
    std::string progress_words = "[";
    progress_words.append(std::to_string(session.done)).append("/").append(std::to_string(session.total)).append("] ");
    Path const progress = text(progress_words);
    const Source& source = source_of(session.work, job);
    Path const whole = readable(original_path(session.work, job));
    Path const brief = readable(brief_path(session.work.tops[source.top], copy_path(session.work, job)));
    Path const why = ended.why.empty() ? Path() : text(" (") + ended.why + text(")");
    Path const verdict_words = text(ended.verdict == Verdict::converted ? "converted: "
                                    : ended.verdict == Verdict::skipped ? "skipped: "
                                    : ended.verdict == Verdict::failed  ? "failed: "
                                                                        : "not done: ");
    Path const line = verdict_words + whole + why;
    bool const failure = ended.verdict == Verdict::failed;
    say(window() ? verdict_words + brief + why : progress + line, failure, !failure && !ended.notable);
    switch (ended.verdict) {
    case Verdict::converted:
        ++session.counts.converted;
        if (ended.plain_wav) ++session.counts.plain_wav;
        break;
    case Verdict::skipped: ++session.counts.skipped; break;
    case Verdict::failed:
        ++session.counts.failed;
        session.failures.push_back({std::move(ended.cause), whole, brief, line});
        break;
    case Verdict::not_done: ++session.counts.not_done; break;
    }
    session.progress = progress;
    session.at_work = readable(brief_path(session.work.tops[source.top], source.relative));
    if (ended.has_copy) session.received[source.top] = true;
    for (Made& folder : ended.made) session.made.push_back(std::move(folder));
}

// After each batch of ended jobs, and every tenth of a second while none ends: their lines are
// written in one piece, and the progress row and the window's title show how far the drop has got.
void after_batch(Session& session) {
    flush_lines();
    auto const now = std::chrono::steady_clock::now();
    if (now - session.drawn < std::chrono::milliseconds(100) && session.done != session.total) return;
    session.drawn = now;
    if (session.title) set_console_title(session.progress + *session.title);
    if (!window()) return;
    Progress const progress{session.done, session.total, session.bytes.load(std::memory_order_relaxed),
                            std::chrono::duration<double>(now - session.started).count()};
    Row const row = progress_row(progress, window_columns());
    Path shown = text(row.words);
    if (row.folder != 0 && !session.at_work.empty()) shown += text("  ") + elided(PathView(session.at_work), row.folder);
    show_progress(shown);
}

// A copy written and waiting for its bytes to be on the disk before it takes its name.
struct Written {
    std::size_t index;  // of its job
    Outcome outcome;
    Path temporary;
    std::uint32_t top;   // whose folder of copies holds the temporary copy
    std::size_t mirror;  // its copy's folder, in Run::mirrors
    bool replace;
    Path again;  // what the copy it replaces was
    std::vector<Made> made;
};

// What a run of jobs on one thread holds: the folder of the originals at work, the folders of
// their copies until the copies have their names, and the copies written meanwhile.
struct Run {
    Session& session;
    Files& files;
    std::span<std::uint8_t> buffer;
    const std::atomic<bool>& stop;
    std::vector<std::pair<std::size_t, Ended>>& results;
    std::function<void()> deliver;  // gives back the results so far, for their lines to keep up

    std::uint32_t source = UINT32_MAX;  // whose folders are held
    Folder original{};
    bool own_original = false;
    Path problem{};            // why the jobs of that source fail
    Path cause{};              // the same without its paths
    std::vector<Made> made{};  // the folders that opening its copies' folder made, for its next job
    std::vector<Folder> mirrors{};
    std::vector<bool> own_mirror{};  // false for a folder of copies itself, which the drop holds
    std::vector<Written> written{};
    std::uint64_t bytes = 0;
};

void end_job(Run& run, std::size_t index, Ended ended) { run.results.emplace_back(index, std::move(ended)); }

// Flushes the copies written and gives each its name; then lets go of every copy's folder but the
// one at work.
void give_names(Run& run) {
    const Work& work = run.session.work;
    std::vector<std::pair<std::uint32_t, Error>> flushed;  // per folder of copies
    for (Written& copy : run.written) {
        auto known = std::find_if(flushed.begin(), flushed.end(), [&](const auto& f) { return f.first == copy.top; });
        if (known == flushed.end()) {
            flushed.emplace_back(copy.top, flush_all(run.session.flushes[copy.top], run.files,
                                                     run.session.copies[copy.top].folder));
            known = flushed.end() - 1;
        }
        if (known->second != 0) {
            copy.outcome.step = Outcome::Step::flush;
            copy.outcome.error = known->second;
        }
        const Job& job = work.jobs[copy.index];
        const Folder& copies = run.session.copies[copy.top].folder;
        give_name(run.files, {copies, copy.temporary}, {run.mirrors[copy.mirror], job.name}, copy.replace, copy.outcome);
        Ended ended = verdict(job, copies, copy_path(work, job), copy.outcome, copy.temporary, copy.again);
        ended.made = std::move(copy.made);
        ended.notable = !copy.again.empty();
        end_job(run, copy.index, std::move(ended));
    }
    // The lines of the copies named, and of the jobs that ended before them, show now, not once
    // the run of jobs has ended: a run of large files takes a while.
    if (!run.written.empty()) run.deliver();
    run.written.clear();
    run.bytes = 0;
    std::size_t const last = run.mirrors.size() - 1;
    for (std::size_t i = 0; i + 1 < run.mirrors.size(); ++i) {
        if (run.own_mirror[i]) close_folder(run.mirrors[i]);
    }
    if (!run.mirrors.empty()) {
        run.mirrors = {run.mirrors[last]};
        run.own_mirror = {run.own_mirror[last]};
    }
}

// Lets go of the folders of the source at work.
void let_go(Run& run) {
    if (run.own_original) close_folder(run.original);
    run.own_original = false;
    if (!run.mirrors.empty() && run.own_mirror.back() &&
        std::none_of(run.written.begin(), run.written.end(), [&](const Written& w) { return w.mirror == run.mirrors.size() - 1; })) {
        close_folder(run.mirrors.back());
        run.mirrors.pop_back();
        run.own_mirror.pop_back();
    }
    run.source = UINT32_MAX;
}

// Opens the folders of `job`'s source: its original's, found to be the folder that the walk
// listed, and its copy's, made where it is missing, each folder of it with the permission bits
// of its original; or says in `problem` why its jobs fail.
void hold(Run& run, const Job& job) {
    const Work& work = run.session.work;
    // A run of files from many folders holds few of their copies' folders at once: the copies
    // written so far are given their names first.
    if (run.mirrors.size() >= held_mirrors) give_names(run);
    let_go(run);
    run.source = job.source;
    run.problem.clear();
    run.cause.clear();
    const Source& source = work.sources[job.source];
    const Top& top = work.tops[source.top];
    const Copies& copies = run.session.copies[source.top];
    if (!copies.problem.empty()) {
        run.problem = copies.problem;
        run.cause = copies.cause;
        return;
    }
    // The folder given holds the jobs of its own files, and its folder of copies their copies.
    if (source.relative.empty()) {
        run.original = top.folder;
        run.mirrors.push_back(copies.folder);
        run.own_mirror.push_back(false);
        return;
    }
    std::vector<std::uint32_t> modes;
    Path const shown = readable(join(top.folder.path, source.relative));
    Below below = open_below(top.folder, source.relative, run.original, nullptr, &modes);
    Identity identity;
    if (below.error == 0) {
        run.own_original = true;
        below = {identity_of(run.original, identity), source.relative.size(), false, std::nullopt};
    }
    if (below.error != 0) {
        // Found as a folder, or not found at all, or opened but not asked what it is: the
        // system's text says why it cannot be opened.
        Path const at = readable(join(top.folder.path, PathView(source.relative).substr(0, below.end)));
        bool const opening = !below.found || *below.found == Found::Kind::folder;
        run.problem = opening ? text("cannot open the folder ") + at + text(": ") + system_text(below.error)
                      : *below.found == Found::Kind::missing
                          ? text("the folder ") + shown + text(" changed during the drop: ") + at + text(" is gone")
                          : text("the folder ") + shown + text(" changed during the drop: ") + at + text(" is ") +
                                text(kind_words(*below.found)) + text(" now");
        run.cause = opening ? text("cannot open its folder: ") + system_text(below.error)
                            : text("its folder changed during the drop");
        return;
    }
    if (identity != source.identity) {
        run.problem = text("the folder ") + shown + text(" changed during the drop: it is another folder now");
        run.cause = text("its folder changed during the drop");
        return;
    }
    ask_file_system(run.original);
    Folder mirror;
    std::vector<Path> made;
    Below const opened = open_below(copies.folder, source.relative, mirror, &made, &modes);
    for (Path& relative : made) {
        std::size_t const depth = static_cast<std::size_t>(
            std::count(relative.begin(), relative.end(), separator<Path::value_type>));
        run.made.push_back({source.top, std::move(relative), depth < modes.size() ? modes[depth] : 0777U});
    }
    if (opened.error != 0) {
        Ended const not_one = not_a_folder(shown_in_copies(PathView(source.relative).substr(0, opened.end)), opened);
        run.problem = not_one.why;
        run.cause = not_one.cause;
        return;
    }
    // A folder of copies is never a folder of the tree: on Windows a link that its listing did
    // not show could lead one there, and its copies would stand among the originals.
    Identity mirror_identity;
    if (Error const error = identity_of(mirror, mirror_identity)) {
        close_folder(mirror);
        Ended const not_one = not_a_folder(shown_in_copies(source.relative), Below{error, 0, false, std::nullopt});
        run.problem = not_one.why;
        run.cause = not_one.cause;
        return;
    }
    if (mirror_identity == top.identity ||
        std::binary_search(run.session.tree.begin(), run.session.tree.end(), mirror_identity, before)) {
        close_folder(mirror);
        run.problem = shown_in_copies(source.relative) + text(" leads to a folder of the originals; no copy is made there");
        run.cause = text("converted leads to a folder of the originals; no copy is made there");
        return;
    }
    ask_file_system(mirror);
    run.mirrors.push_back(mirror);
    run.own_mirror.push_back(true);
}

// The original of a job that is a link: what the link leads to, held in `target`, where it leads
// beneath its top (anywhere, for a file given by name) and to no copy; or the verdict on the job
// where it does not.
std::optional<Ended> follow(Run& run, const Job& job, Folder& target, Path& name) {
    const Top& top = run.session.work.tops[source_of(run.session.work, job).top];
    Link link = judge_link(run.session.copies_found, top, run.original, job.name, job.given);
    target = link.followed.folder;
    name = link.followed.name;
    switch (link.where) {
    case Link::Where::file: return std::nullopt;
    case Link::Where::broken:
        if (link.error == 0) return std::nullopt;  // nothing there: the open says so
        close_folder(target);
        return failed(text("cannot follow its link: ") + system_text(link.error),
                      text("cannot follow its link: ") + system_text(link.error));
    case Link::Where::folder:
    case Link::Where::other:
    case Link::Where::outside:
    case Link::Where::copies: break;
    }
    close_folder(target);
    if (link.where == Link::Where::folder) return Ended{Verdict::skipped, text("a link to a folder, not a regular file")};
    return Ended{Verdict::skipped, link_words(link)};
}

// How one attempt at a job's copy ended: with its verdict, its copy written and waiting for its
// name, or at an original that turned out to be a link, before anything was made.
enum class Attempt { ended, written, linked };

// Makes the copy of the job `index` from `original`, or ends it with why not. Where `may_link`,
// an original that turns out to be a link ends the attempt as `linked`, for the link to be
// followed; where not, it fails as a file that cannot be opened.
Attempt attempt(Run& run, std::size_t index, Place original, bool may_link, std::vector<Made>& made) {
    const Work& work = run.session.work;
    const Job& job = work.jobs[index];
    std::uint32_t const top = work.sources[job.source].top;
    const Copies& copies = run.session.copies[top];
    const Folder& mirror = run.mirrors.back();
    Path const copy = copy_path(work, job);
    const auto end_here = [&](Ended ended) {
        ended.made = std::move(made);
        end_job(run, index, std::move(ended));
        return Attempt::ended;
    };
    const auto link_at_copy = [&] {
        return end_here(failed(shown_in_copies(copy) + text(" is a link, not a converted copy; it stays as it is"),
                               text("converted holds a link where its copy goes; it stays as it is")));
    };

    // What holds the copy's name already: a copy of the same size and time of writing as its
    // original is one; one whose original was written since is made again; one that differs
    // otherwise is read once, and kept where it is no exact copy nor one cut short (its user's
    // work); anything else stays, and is named.
    Found found;
    bool replace = false;
    Path again;
    if (Error const error = find(mirror, job.name, found)) {
        return end_here(failed(text("cannot look for ") + shown_in_copies(copy) + text(": ") + system_text(error),
                               text("cannot look for its copy: ") + system_text(error)));
    }
    if (found.kind == Found::Kind::file) {
        if (std::optional<Ended> twins = twins_copy(job, copies.folder, copy)) return end_here(std::move(*twins));
        Version original_version, copy_version;
        if (Error const error = run.files.version(original.folder, original.name, no_handle, original_version)) {
            if (may_link && run.files.linked(error)) return Attempt::linked;
            Path const why = text(step_words(Outcome::Step::open)) + text(": ") + system_text(error);
            return end_here(failed(why, why));
        }
        Standing const standing_now = standing(original_version, found.size, found.written, copies.window);
        // Before a copy is read or replaced, its name is asked once more, which on Windows also
        // tells a link that the listing showed as a file.
        if (standing_now != Standing::same) {
            if (Error const error = run.files.version(mirror, job.name, no_handle, copy_version);
                error != 0 && run.files.linked(error)) {
                return link_at_copy();
            }
        }
        switch (standing_now) {
        case Standing::same: return end_here(already(job, copies.folder, copy));
        case Standing::older:
            replace = true;
            again = text(found.size != original_version.size ? copy_again(found.size, original_version.size)
                                                             : newer_again());
            break;
        case Standing::unsure:
        {
            Checked const checked = check_copy(run.files, original, {mirror, job.name}, run.buffer, run.stop);
            if (checked.copy_linked) return link_at_copy();
            if (checked.step == Outcome::Step::linked && may_link) return Attempt::linked;
            if (checked.step != Outcome::Step::done) {
                Outcome const outcome{checked.step == Outcome::Step::linked ? Outcome::Step::open : checked.step,
                                      checked.error};
                return end_here(verdict(job, copies.folder, copy, outcome, Path(), Path()));
            }
            if (checked.match == Match::exact) return end_here(already(job, copies.folder, copy));
            if (checked.match == Match::other) {
                Ended kept{Verdict::skipped, shown_in_copies(copy) + text(" was changed after it was made; it stays as it is")};
                kept.has_copy = true;
                kept.notable = true;
                return end_here(std::move(kept));
            }
            replace = true;
            again = text(copy_again(found.size, checked.original.size));
            break;
        }
        }
    } else if (found.kind != Found::Kind::missing) {
        bool const folder = found.kind == Found::Kind::folder;
        return end_here(failed(shown_in_copies(copy) + text(" is ") + text(kind_words(found.kind)) +
                                   text(folder ? ", not a converted copy" : ", not a converted copy; it stays as it is"),
                               text("converted holds ") + text(kind_words(found.kind)) +
                                   text(folder ? " where its copy goes" : " where its copy goes; it stays as it is")));
    }

    // The copy is made in the top folder of copies, on the file system of every copy below it,
    // under a name that no file of the tree has: the process id and a number make it unique.
    Path temporary = temporary_name<Path::value_type>(run.session.process_id, ++run.session.copies_made);
    Outcome outcome =
        write_converted(run.files, original, {copies.folder, temporary}, run.buffer, run.stop, &run.session.bytes);
    if (outcome.step == Outcome::Step::linked && may_link) return Attempt::linked;
    if (outcome.step == Outcome::Step::linked) outcome.step = Outcome::Step::open;  // with the link's error
    if (outcome.step != Outcome::Step::done) return end_here(verdict(job, copies.folder, copy, outcome, temporary, again));
    run.bytes += outcome.size;
    run.written.push_back({index, outcome, std::move(temporary), top, run.mirrors.size() - 1, replace, std::move(again),
                           std::move(made)});
    return Attempt::written;
}

// Converts the copy of the job `index`, or ends it with why not. A link, or a file that turns out
// to be one, is followed by hand; what it leads to is the original, held for this job alone.
void run_job(Run& run, std::size_t index) {
    const Work& work = run.session.work;
    const Job& job = work.jobs[index];
    if (job.source != run.source) hold(run, job);
    std::vector<Made> made = std::move(run.made);
    run.made.clear();
    if (!run.problem.empty()) return end_job(run, index, failed(run.problem, run.cause, std::move(made)));
    Attempt outcome = Attempt::linked;
    for (bool linked = job.link; outcome == Attempt::linked; linked = true) {
        Folder target;
        Path target_name;
        if (linked) {
            if (std::optional<Ended> refused = follow(run, job, target, target_name)) {
                refused->made = std::move(made);
                return end_job(run, index, std::move(*refused));
            }
        }
        outcome = attempt(run, index, linked ? Place{target, target_name} : Place{run.original, job.name}, !linked, made);
        close_folder(target);
    }
    if (outcome == Attempt::written && run.bytes >= bytes_per_run) give_names(run);
}

// Runs the jobs `jobs` of one run on a thread, in their order, until `stop` is set; then flushes
// and names what was written.
void run_jobs(Run& run, std::span<const std::size_t> jobs) {
    for (std::size_t const index : jobs) {
        if (run.stop.load()) break;
        run_job(run, index);
    }
    give_names(run);
    let_go(run);
    for (std::size_t i = 0; i < run.mirrors.size(); ++i) {
        if (run.own_mirror[i]) close_folder(run.mirrors[i]);
    }
    run.mirrors.clear();
    run.own_mirror.clear();
}

// Makes the folder of copies of each top that jobs use ready before any copy, from the calling
// thread, so that each is cleared once and no thread makes a copy in a folder that another is
// still clearing; then clears each other folder of copies that the walk met.
void prepare_folders(Session& session) {
    const Work& work = session.work;
    session.copies.resize(work.tops.size());
    session.flushes = std::vector<Flushes>(work.tops.size());
    session.copies_found = work.copies;
    for (const Source& source : work.sources) session.tree.push_back(source.identity);
    for (const Top& top : work.tops) session.tree.push_back(top.identity);
    std::sort(session.tree.begin(), session.tree.end(), before);
    for (const Job& job : work.jobs) {
        std::uint32_t const top = source_of(work, job).top;
        if (session.copies[top].ready) continue;
        session.copies[top] = make_ready(work.tops[top], session.process_id, session.counts.removed);
        if (Identity identity; session.copies[top].problem.empty() && identity_of(session.copies[top].folder, identity) == 0) {
            session.copies_found.push_back(identity);
        }
    }
    for (const Met& met : work.met) {
        if (met.relative.empty() && session.copies[met.top].ready) continue;  // its top's own
        session.counts.removed += clear(work, met);
    }
}

// The threads that a run may have for want of descriptors: each holds its original's folder, the
// folders of the copies it writes, the files it reads and writes, and the folders on the way of
// a link it follows.
constexpr std::size_t descriptors_per_thread = held_mirrors + 8;

}  // namespace

std::size_t threads_at_work(const Work& work, std::size_t threads) {
    std::size_t const twins = static_cast<std::size_t>(
        std::count_if(work.jobs.begin(), work.jobs.end(), [](const Job& job) { return job.case_twin; }));
    std::size_t const most = std::max(twins, work.jobs.size() - twins);
    // Where descriptors are few, fewer threads: no file may fail for want of one that a single
    // thread would have had. The folders of copies and their locks are still to be opened, and
    // the calling thread keeps a few for itself.
    std::size_t const tops = work.tops.size(), left = descriptors_left();
    std::size_t const spare = left > 2 * tops + 4 ? left - 2 * tops - 4 : 0;
    std::size_t const fit = std::max<std::size_t>(1, spare / descriptors_per_thread);
    return std::min({threads, fit, (most + jobs_per_run - 1) / jobs_per_run});
}

void convert(const Work& work, std::size_t threads, const std::atomic<bool>& stop, Counts& counts,
             std::vector<Failure>& failures, std::vector<Path>& copies_in, Folder& kept) {
    Session session{work, process_id(), 0, {}, {}, 0, work.jobs.size(), counts, failures,
                    std::vector<bool>(work.tops.size()), console_title(), {}, {}, {}, {}, {},
                    std::chrono::steady_clock::now(), {}, {}};
    prepare_folders(session);
    flush_lines();
    // The case twins after all other jobs, so that the copy of the first of each pair exists when
    // its twin starts; each phase in runs of jobs that a thread takes at once.
    for (bool const twins : {false, true}) {
        std::vector<std::size_t> phase;
        for (std::size_t i = 0; i < work.jobs.size(); ++i) {
            if (work.jobs[i].case_twin == twins) phase.push_back(i);
        }
        std::size_t const runs = (phase.size() + jobs_per_run - 1) / jobs_per_run;
        std::size_t const ran = run_pool<Ended>(
            runs, threads, stop,
            [&](std::size_t r, std::span<std::uint8_t> buffer, std::vector<std::pair<std::size_t, Ended>>& results,
                auto deliver) {
                Run run{session, system_files(), buffer, stop, results, deliver};
                std::size_t const first = r * jobs_per_run;
                run_jobs(run, std::span<const std::size_t>(phase).subspan(first, std::min(jobs_per_run, phase.size() - first)));
            },
            [&](std::size_t i, Ended& ended) { end(session, work.jobs[i], ended); }, [&] { after_batch(session); });
        counts.not_done += phase.size() - ran;
    }
    // Where something failed, the first folder of copies that can hold it keeps the report.
    auto const first = failures.empty() ? UINT32_MAX
                                        : static_cast<std::uint32_t>(
                                              std::find_if(session.copies.begin(), session.copies.end(),
                                                           [](const Copies& copies) { return copies.ready && copies.problem.empty(); }) -
                                              session.copies.begin());
    end_copies(work, session.copies, session.made, session.process_id, first);
    if (first < session.copies.size()) kept = session.copies[first].folder;
    if (session.title) set_console_title(*session.title);
    for (std::uint32_t top = 0; top < work.tops.size(); ++top) {
        if (session.received[top]) copies_in.push_back(readable(join(work.tops[top].folder.path, text("converted"))));
    }
}

}  // namespace drop

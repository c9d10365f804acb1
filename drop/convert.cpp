// Converting copies, the same on every platform: the folders of copies made ready, then each job
// run on a few threads (its copy's name already taken, a folder in its place, the case twins, the
// mirror folders, the temporary copy) and ended with its numbered line. A drop marks each folder
// of copies it uses with a lock that it holds while it runs; the lock of a drop that was killed is
// held no more, so the next drop tells that drop's temporary copies from those of a drop still at
// work, and removes them.
#include "convert.hpp"

#include <algorithm>
#include <optional>

#include "output.hpp"
#include "paths.hpp"
#include "system.hpp"

namespace drop {

namespace {

enum class Verdict { converted, skipped, failed, not_done };

// How one job ended, as its line says it.
struct Ended {
    Verdict verdict;
    Path why;
    bool plain_wav = false;     // converted from a plain WAV file
    std::vector<Path> made{};  // the folders of copies that its job made
};

// A folder of converted copies that this drop has made ready: leftovers removed, and its lock
// held until the drop ends; or why it cannot be used.
struct Folder {
    Path path;
    bool ready = false;  // made ready: it holds copies of this drop
    Lock lock;
    Path problem;
};

// What the conversion of all jobs keeps track of.
struct Session {
    std::uint32_t process_id;
    std::atomic<std::uint64_t> copies_made;  // numbers the temporary copies
    std::vector<Folder> folders;             // each of Work::copies, made ready where jobs use it
    std::size_t done, total;                 // jobs ended, of all
    Counts& counts;
    std::vector<Path>& failures;
    std::optional<Path> title;  // the console window's title before the drop
    Path progress;              // of the job that ended last: "[12/3000] "
    std::vector<std::pair<std::uint32_t, Path>> made;  // folders this drop made, in which folder of copies
};

// Ends `job` with its numbered line.
void end(Session& session, const Job& job, Ended& ended) {
    ++session.done;
    // Appended piece by piece: GCC 12 warns of an overlapping copy, wrongly, for a literal + a
    // temporary string.
    std::string progress_words = "[";
    progress_words.append(std::to_string(session.done)).append("/").append(std::to_string(session.total)).append("] ");
    Path const progress = text(progress_words);
    Path line = text(ended.verdict == Verdict::converted ? "converted: "
                     : ended.verdict == Verdict::skipped ? "skipped: "
                     : ended.verdict == Verdict::failed  ? "failed: "
                                                         : "not done: ") +
                readable(job.source);
    if (!ended.why.empty()) line.append(text(" (")).append(ended.why).append(text(")"));
    say(progress + line, ended.verdict == Verdict::failed);
    switch (ended.verdict) {
    case Verdict::converted:
        ++session.counts.converted;
        if (ended.plain_wav) ++session.counts.plain_wav;
        break;
    case Verdict::skipped: ++session.counts.skipped; break;
    case Verdict::failed:
        ++session.counts.failed;
        session.failures.push_back(line);
        break;
    case Verdict::not_done: ++session.counts.not_done; break;
    }
    session.progress = progress;
    for (Path& folder : ended.made) session.made.emplace_back(job.copies, std::move(folder));
}

// After each batch of ended jobs: their lines are written in one piece, and the window's title
// shows the last one's progress.
void after_batch(Session& session) {
    flush_lines();
    if (session.title) set_console_title(session.progress + *session.title);
}

// The copy's path as a line names it: "converted/sub/x.wav".
Path shown_in_copies(PathView relative) { return join(text("converted"), readable(relative)); }

// The verdict on a job whose copy's name is taken. A case twin's copy, under a path whose names
// differ from the job's only in letter case, is found there too where the folder of copies
// ignores case; only a job marked as a twin is asked whether it is, so that a file whose folder
// the mount spells in another case, and that has no twin, finds its own copy.
Ended already(const Job& job, const Path& copies) {
    if (job.case_twin && !spelled_as(copies, relative(job))) {
        return {Verdict::failed,
                shown_in_copies(relative(job)) +
                    text(" is the copy of a file whose path differs only in letter case, and converted cannot hold both")};
    }
    return {Verdict::skipped, text("already converted: ") + shown_in_copies(relative(job)) + text(" exists")};
}

// The folder `folder`, made if it is not there; `shown_as` names it in `why` when it cannot be
// made or is a file.
bool make_folder(const Path& folder, const Path& shown_as, Path& why, std::vector<Path>& made) {
    bool made_now = false;
    if (Error const error = create_folder(folder, made_now)) {
        why = text("cannot make the folder ") + shown_as + text(": ") + system_text(error);
        return false;
    }
    if (made_now) made.push_back(folder);
    if (kind_of(folder) != Kind::folder) {
        why = shown_as + text(" is a file, not a folder");
        return false;
    }
    return true;
}

// Removes from the folder of copies `copies` the temporary copies and locks of drops that ended
// before their work, each temporary copy named in a line.
void remove_leftovers(const Path& copies) {
    std::vector<Path> temporaries, locks;
    for (Path& name : names_in(copies)) {
        if (temporary_owner(PathView(name))) temporaries.push_back(std::move(name));
        else if (lock_owner(PathView(name))) locks.push_back(std::move(name));
    }
    std::sort(temporaries.begin(), temporaries.end());  // the same order on every file system
    for (const Path& name : temporaries) {
        if (at_work(copies, *temporary_owner(PathView(name)))) continue;
        Path const leftover = join(copies, name);
        if (remove_file(leftover)) {
            say(text("removed: ") + readable(leftover) +
                text(" (a temporary copy left by a drop that was closed or stopped)"));
        }
    }
    for (const Path& name : locks) at_work(copies, *lock_owner(PathView(name)));
}

// Makes the folder of copies `copies` ready for this drop: made if needed, cleared of leftovers,
// and locked while this drop is at work in it.
Folder make_ready(Session& session, std::uint32_t index, const Path& copies) {
    Folder folder{copies, true, {}, {}};
    std::vector<Path> made;
    bool const ready = make_folder(copies, readable(copies), folder.problem, made);
    for (Path& path : made) session.made.emplace_back(index, std::move(path));
    if (!ready) return folder;
    remove_leftovers(copies);
    folder.lock = lock_folder(copies, session.process_id);
    Path const error = folder.lock.error == 0 ? Path() : text(": ") + system_text(folder.lock.error);
    switch (folder.lock.failed) {
    case Lock::Failed::none: break;
    case Lock::Failed::create: folder.problem = text("cannot write in ") + readable(copies) + error; break;
    case Lock::Failed::hold:
        folder.problem = text("cannot lock ") + readable(join(copies, lock_name<Path::value_type>(session.process_id))) + error;
        break;
    }
    return folder;
}

// Makes every folder between `copies` and the copy's own folder `folder`, each one made added to
// `made`. `known` is the last folder this thread knows to exist.
bool make_mirror(const Path& copies, const Path& folder, Path& known, Path& why, std::vector<Path>& made) {
    if (folder == known || folder == copies) return true;
    if (kind_of(folder) != Kind::folder) {
        Path path = copies;
        PathView rest = PathView(folder).substr(copies.size() + 1);
        while (!rest.empty()) {
            std::size_t const end = rest.find(separator<Path::value_type>);
            path = join(path, rest.substr(0, end));
            if (!make_folder(path, shown_in_copies(PathView(path).substr(copies.size() + 1)), why, made)) return false;
            rest.remove_prefix(end == PathView::npos ? rest.size() : end + 1);
        }
    }
    known = folder;
    return true;
}

// Why the copy of a job failed at `outcome`'s step, with the system's texts.
Path failure_why(const Outcome& outcome, const Path& copy) {
    Path why = text(step_words(outcome.step));
    if (outcome.step != Outcome::Step::too_short && outcome.step != Outcome::Step::changed) {
        why += text(": ") + system_text(outcome.error);
    }
    if (outcome.left) {
        why += text("; the temporary copy ") + readable(copy) + text(" stays: ") + system_text(outcome.left_error);
    }
    return why;
}

// The verdict on a job whose copy ended at `outcome`, `copy` its temporary copy.
Ended verdict(const Job& job, const Path& copies, const Outcome& outcome, const Path& copy) {
    switch (outcome.step) {
    case Outcome::Step::done:
        if (outcome.form == Form::plain_wav) {
            return {Verdict::converted, text("it was a plain WAV file already, so the copy is nibble-swapped"), true};
        }
        return {Verdict::converted, {}};
    case Outcome::Step::stopped: return {Verdict::not_done, text("stopped; no copy kept")};
    case Outcome::Step::inside_copies: return {Verdict::skipped, text("a link to a converted copy")};
    case Outcome::Step::not_regular: return {Verdict::skipped, text("not a regular file")};
    case Outcome::Step::taken: return already(job, copies);  // made meanwhile: by a case twin, or another drop
    default: return {Verdict::failed, failure_why(outcome, copy)};
    }
}

// The work of one job, on a thread of the pool.
Ended run(Session& session, const Job& job, const Folder& folder, std::span<std::uint8_t> buffer,
          const std::atomic<bool>& stop) {
    if (!folder.problem.empty()) return {Verdict::failed, folder.problem};
    Path const& copies = folder.path;
    Path const target = join(copies, relative(job));
    switch (kind_of(target)) {
    case Kind::folder: return {Verdict::failed, shown_in_copies(relative(job)) + text(" is a folder, not a converted copy")};
    case Kind::file: return already(job, copies);
    case Kind::missing: break;
    }
    thread_local Path known;
    Path why;
    std::vector<Path> made;
    if (!make_mirror(copies, Path(parent(PathView(target))), known, why, made)) {
        return {Verdict::failed, why, false, std::move(made)};
    }

    // The copy is made in the top folder of copies, on the file system of every copy below it,
    // under a name that no file of the tree has: the process id and a number make it unique.
    Path const copy = join(copies, temporary_name<Path::value_type>(session.process_id, ++session.copies_made));
    Outcome const outcome = copy_converted(system_files(), job.source, copy, target, buffer, stop);
    Ended ended = verdict(job, copies, outcome, copy);
    ended.made = std::move(made);
    return ended;
}

// Makes every folder of copies that the jobs use ready before any copy, from the calling thread,
// so that each is cleared once and no thread makes a copy in a folder that another is still
// clearing; then clears each other folder that the walk met.
void prepare_folders(Session& session, const Work& work) {
    session.folders.resize(work.copies.size());
    for (const Job& job : work.jobs) {
        Folder& folder = session.folders[job.copies];
        if (!folder.ready) folder = make_ready(session, job.copies, work.copies[job.copies]);
    }
    for (const Path& copies : work.met) {
        auto const known = std::find_if(session.folders.begin(), session.folders.end(),
                                        [&](const Folder& f) { return f.ready && f.path == copies; });
        if (known == session.folders.end()) remove_leftovers(copies);
    }
}

// Runs `work(i, buffer)` for each job `i` on `threads` threads and hands each result to
// `report(i, result)` on the calling thread, as run_pool does, the case twins after all other
// jobs, so that the copy of the first of each pair exists when its twin starts. Returns how many
// jobs did not run because `stop` was set.
template <class Result, class Work, class Report, class Batch>
std::size_t run_twins_last(const std::vector<Job>& jobs, std::size_t threads, const std::atomic<bool>& stop,
                           Work work, Report report, Batch after_batch) {
    std::size_t not_run = 0;
    for (bool const twins : {false, true}) {
        std::vector<std::size_t> phase;
        for (std::size_t i = 0; i < jobs.size(); ++i) {
            if (jobs[i].case_twin == twins) phase.push_back(i);
        }
        std::size_t const ran = run_pool<Result>(
            phase.size(), threads, stop,
            [&](std::size_t k, std::span<std::uint8_t> buffer) { return work(phase[k], buffer); },
            [&](std::size_t k, Result& result) { report(phase[k], result); }, after_batch);
        not_run += phase.size() - ran;
    }
    return not_run;
}

// Whether a drop other than this one is at work in the folder of copies `copies`.
bool others_at_work(const Session& session, const Path& copies) {
    for (const Path& name : names_in(copies)) {
        std::optional<std::uint32_t> const owner = lock_owner(PathView(name));
        if (owner && *owner != session.process_id && at_work(copies, *owner)) return true;
    }
    return false;
}

// Removes each folder that this drop made and that holds nothing at its end, the deepest first,
// such as the folder of a file whose copy failed; not in a folder of copies where another drop is
// at work, which may be about to give a copy its name there. A folder that was there before the
// drop is never removed.
void remove_empty_folders(Session& session) {
    std::stable_sort(session.made.begin(), session.made.end(),
                     [](const auto& a, const auto& b) { return a.second.size() > b.second.size(); });
    std::vector<std::optional<bool>> alone(session.folders.size());  // asked once per folder of copies
    for (const auto& [index, folder] : session.made) {
        if (!alone[index]) alone[index] = !others_at_work(session, session.folders[index].path);
        if (*alone[index]) remove_folder(folder);
    }
}

}  // namespace

void convert(const Work& work, std::size_t threads, const std::atomic<bool>& stop, Counts& counts,
             std::vector<Path>& failures) {
    Session session{process_id(), 0, {}, 0, work.jobs.size(), counts, failures, console_title(), {}, {}};
    prepare_folders(session, work);
    flush_lines();
    counts.not_done += run_twins_last<Ended>(
        work.jobs, threads, stop,
        [&](std::size_t i, std::span<std::uint8_t> buffer) {
            return run(session, work.jobs[i], session.folders[work.jobs[i].copies], buffer, stop);
        },
        [&](std::size_t i, Ended& ended) { end(session, work.jobs[i], ended); },
        [&] { after_batch(session); });
    for (const Folder& folder : session.folders) {
        if (folder.ready && folder.problem.empty()) unlock_folder(folder.path, session.process_id, folder.lock);
    }
    remove_empty_folders(session);
    if (session.title) set_console_title(*session.title);
}

}  // namespace drop

// Converting copies, the same on every platform: the folders of copies made ready, then runs of
// jobs on a few threads, each job (its copy's name already taken, something else in its place,
// the case twins, the mirror folders, the temporary copy) ended with its numbered line. Every
// call names a file in a folder the drop holds: the folder of the original, opened beneath the
// folder given and found to be the one the walk listed, and the copy's folder, opened beneath
// the folder of copies, through no link. A copy takes its name only once its bytes are on the
// disk. A drop marks each folder of copies it uses with a lock that it holds while it runs; the
// lock of a drop that was killed is held no more, so the next drop tells that drop's temporary
// copies from those of a drop still at work, and removes them.
#include "convert.hpp"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <optional>

#include "output.hpp"
#include "paths.hpp"
#include "system.hpp"

namespace drop {

namespace {

// Jobs that a thread takes at once, and the bytes it writes before it flushes them and gives
// them their names: a small file costs a wake-up of no thread, and a flush of no file alone.
constexpr std::size_t jobs_per_run = 64;
constexpr std::uint64_t bytes_per_run = std::uint64_t{64} << 20;
constexpr std::size_t held_mirrors = 4;

enum class Verdict { converted, skipped, failed, not_done };

// How one job ended, as its line says it.
struct Ended {
    Verdict verdict;
    Path why;
    bool plain_wav = false;     // converted from a plain WAV file
    std::vector<Path> made{};  // the folders below its folder of copies that its job made
    Path cause{};               // of a failure: its why without the paths, shared by the files it failed
    bool has_copy = false;      // converted, or its copy was there already
};

// A failure's verdict, `why` its line's words and `cause` the same without its paths.
Ended failed(Path why, Path cause, std::vector<Path> made = {}) {
    return {Verdict::failed, std::move(why), false, std::move(made), std::move(cause)};
}

// The folder of converted copies of a top that this drop has made ready: leftovers removed, and
// its lock held until the drop ends; or why it cannot be used.
struct Copies {
    Folder folder;
    bool ready = false;  // made ready: it holds copies of this drop
    bool made = false;   // made by this drop
    Lock lock;
    Path problem;
    Path cause;  // of the problem, without its paths
};

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
    std::vector<std::pair<std::uint32_t, Path>> made;  // folders this drop made below which top's copies
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
                readable(original_path(session.work, job));
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
        session.failures.push_back({std::move(ended.cause), readable(original_path(session.work, job))});
        break;
    case Verdict::not_done: ++session.counts.not_done; break;
    }
    session.progress = progress;
    std::uint32_t const top = source_of(session.work, job).top;
    if (ended.has_copy) session.received[top] = true;
    for (Path& folder : ended.made) session.made.emplace_back(top, std::move(folder));
}

// After each batch of ended jobs: their lines are written in one piece, and the window's title
// shows the last one's progress.
void after_batch(Session& session) {
    flush_lines();
    if (session.title) set_console_title(session.progress + *session.title);
}

// A path inside a folder of copies as a line names it: "converted/sub/x.wav".
Path shown_in_copies(PathView relative) { return join(text("converted"), readable(relative)); }

// What is at a name, for a line that says so: "a file", "a link".
std::string_view kind_words(Found::Kind kind) {
    switch (kind) {
    case Found::Kind::file: return "a file";
    case Found::Kind::folder: return "a folder";
    case Found::Kind::link: return "a link";
    case Found::Kind::fifo: return "a FIFO";
    case Found::Kind::socket: return "a socket";
    case Found::Kind::device: return "a device";
    case Found::Kind::missing: break;
    }
    return "nothing";
}

// The verdict on a job whose copy's name is taken by a file of its original's size; and, whatever
// its size, by the copy of the job's case twin, which is never made again in its place. A case
// twin's copy, under a path whose names differ from the job's only in letter case, is found there
// too where the folder of copies ignores case; only a job marked as a twin is asked whether it is,
// so that a file whose folder the mount spells in another case, and that has no twin, finds its
// own copy.
std::optional<Ended> twins_copy(const Job& job, const Folder& copies, const Path& copy) {
    if (!job.case_twin || spelled_as(copies, copy)) return std::nullopt;
    return failed(shown_in_copies(copy) +
                      text(" is the copy of a file whose path differs only in letter case, and converted cannot hold both"),
                  text("its copy's path differs only in letter case from another file's, and converted cannot hold both"));
}
Ended already(const Job& job, const Folder& copies, const Path& copy) {
    if (std::optional<Ended> twins = twins_copy(job, copies, copy)) return std::move(*twins);
    Ended skipped{Verdict::skipped, text("already converted: ") + shown_in_copies(copy) + text(" exists")};
    skipped.has_copy = true;
    return skipped;
}

// What is in the place of a folder of copies below the top one that could not be opened, for a
// line: "converted/sub is a link, not a folder"; or the system's text; and its cause.
Ended not_a_folder(PathView shown, const Below& below) {
    if (below.making) {
        return failed(text("cannot make the folder ") + Path(shown) + text(": ") + system_text(below.error),
                      text("cannot make a folder in converted: ") + system_text(below.error));
    }
    if (below.found && *below.found != Found::Kind::missing && *below.found != Found::Kind::folder) {
        return failed(Path(shown) + text(" is ") + text(kind_words(*below.found)) + text(", not a folder"),
                      text("converted holds ") + text(kind_words(*below.found)) + text(" where a folder of copies goes"));
    }
    return failed(text("cannot open the folder ") + Path(shown) + text(": ") + system_text(below.error),
                  text("cannot open a folder in converted: ") + system_text(below.error));
}

// Removes from the folder of copies `copies` (a line names it `shown`) the temporary copies and
// locks of drops that ended before their work, each temporary copy named in a line, in the order
// of their names. Returns the number of temporary copies removed.
std::size_t remove_leftovers(const Folder& copies) {
    std::vector<Path> temporaries, locks;
    for (Path& name : names_in(copies)) {
        if (temporary_owner(PathView(name))) temporaries.push_back(std::move(name));
        else if (lock_owner(PathView(name))) locks.push_back(std::move(name));
    }
    std::sort(temporaries.begin(), temporaries.end());  // the same order on every file system
    std::size_t removed = 0;
    for (const Path& name : temporaries) {
        if (at_work(copies, *temporary_owner(PathView(name)))) continue;
        if (remove_file(copies, name)) {
            say(text("removed: ") + readable(join(copies.path, name)) +
                text(" (a temporary copy left by a drop that was closed or stopped)"));
            ++removed;
        }
    }
    for (const Path& name : locks) at_work(copies, *lock_owner(PathView(name)));
    return removed;
}

// Makes the folder of copies of `top` ready for this drop: made if needed, never where it leads
// into the folder it is in or to a folder above it, cleared of leftovers, and locked while this
// drop is at work in it.
Copies make_ready(Session& session, const Top& top) {
    Copies copies;
    copies.ready = true;
    Path const name = text("converted");
    Path const shown = join(top.folder.path, name);
    Found found;
    Error error = top.copies_by_link ? 0 : make_folder(top.folder, name, copies.made);
    if (error == 0) error = find(top.folder, name, found);
    if (error == 0) error = open_folder(top.folder, name, top.copies_by_link, copies.folder);
    if (error != 0) {
        bool const other = found.kind != Found::Kind::missing && found.kind != Found::Kind::folder;
        Path const what = text(" is ") + text(kind_words(found.kind)) + text(", not a folder");
        copies.problem = other ? readable(shown) + what
                               : text("cannot make the folder ") + readable(shown) + text(": ") + system_text(error);
        copies.cause = other ? text("converted") + what : text("cannot make the folder converted: ") + system_text(error);
        return copies;
    }
    // A link that the user made to keep the copies elsewhere, or a mount point, is followed; but
    // never into the folders being converted, where the next drop would take the copies for
    // originals, nor to a folder that holds them. Asked of where both really are, since not
    // every system says which folder is a link.
    Path const real = real_path(copies.folder), real_top = real_path(top.folder);
    bool const in_place = !real.empty() && parent(PathView(real)) == PathView(real_top) &&
                          is_converted_folder(last_component(PathView(real)));
    if (!in_place && (real.empty() || real_top.empty() ? found.kind == Found::Kind::link
                                                        : below_or_at(real, real_top) || below_or_at(real_top, real))) {
        bool const inside = below_or_at(real, real_top);
        copies.problem = readable(shown) + text(" leads to ") + (real.empty() ? text("a folder the system cannot name") : readable(real)) +
                         text(inside ? ", inside the folder it is in, where copies would be taken for originals"
                                     : ", which holds the folder it is in") +
                         text("; no copy is made there");
        copies.cause = text(inside ? "converted leads inside the folder it is in; no copy is made there"
                                   : "converted leads to a folder that holds the folder it is in; no copy is made there");
        close_folder(copies.folder);
        return copies;
    }
    session.counts.removed += remove_leftovers(copies.folder);
    copies.lock = lock_folder(copies.folder, session.process_id);
    Path const because = copies.lock.error == 0 ? Path() : text(": ") + system_text(copies.lock.error);
    switch (copies.lock.failed) {
    case Lock::Failed::none: break;
    case Lock::Failed::create:
        copies.problem = text("cannot write in ") + readable(shown) + because;
        copies.cause = text("cannot write in converted") + because;
        break;
    case Lock::Failed::hold:
        copies.problem = text("cannot lock ") + readable(join(shown, lock_name<Path::value_type>(session.process_id))) +
                         because;
        copies.cause = text("cannot lock converted") + because;
        break;
    }
    return copies;
}

// The copy of a job that failed at `outcome`'s step, with the system's texts.
Ended failure(const Outcome& outcome, const Folder& copies, const Path& temporary) {
    Path cause = text(step_words(outcome.step));
    if (outcome.step != Outcome::Step::too_short && outcome.step != Outcome::Step::changed) {
        cause += text(": ") + system_text(outcome.error);
    }
    Path why = cause;
    if (outcome.left) {
        why += text("; the temporary copy ") + readable(join(copies.path, temporary)) + text(" stays: ") +
               system_text(outcome.left_error);
    }
    return failed(std::move(why), std::move(cause));
}

// The verdict on a job whose copy ended at `outcome`, `temporary` its temporary copy; `again`
// says what the copy it replaced was, where it replaced one.
Ended verdict(const Job& job, const Folder& copies, const Path& copy, const Outcome& outcome,
              const Path& temporary, const Path& again) {
    switch (outcome.step) {
    case Outcome::Step::done:
    {
        Path why = is_wav(PathView(job.name)) ? Path() : text("not named .wav; converted as asked");
        for (const Path& more : {again, outcome.form == Form::plain_wav
                                            ? text("it was a plain WAV file already, so the copy is nibble-swapped")
                                            : Path()}) {
            if (!why.empty() && !more.empty()) why += text("; ");
            why += more;
        }
        Ended converted{Verdict::converted, why, outcome.form == Form::plain_wav};
        converted.has_copy = true;
        return converted;
    }
    case Outcome::Step::stopped: return {Verdict::not_done, text("stopped; no copy kept")};
    case Outcome::Step::inside_copies: return {Verdict::skipped, text("a link to a converted copy")};
    case Outcome::Step::not_regular: return {Verdict::skipped, text("not a regular file")};
    case Outcome::Step::taken: return already(job, copies, copy);  // made meanwhile: by a case twin, or another drop
    default: return failure(outcome, copies, temporary);
    }
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
    std::vector<Path> made;
};

// What a run of jobs on one thread holds: the folder of the originals at work, the folders of
// their copies until the copies have their names, and the copies written meanwhile.
struct Run {
    Session& session;
    Files& files;
    std::span<std::uint8_t> buffer;
    const std::atomic<bool>& stop;
    std::vector<std::pair<std::size_t, Ended>>& results;

    std::uint32_t source = UINT32_MAX;  // whose folders are held
    Folder original{};
    bool own_original = false;
    Path problem{};            // why the jobs of that source fail
    Path cause{};              // the same without its paths
    std::vector<Path> made{};  // the folders that opening its copies' folder made, for its next job
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
        end_job(run, copy.index, std::move(ended));
    }
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
// listed, and its copy's, made where it is missing; or says in `problem` why its jobs fail.
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
    if (source.relative.empty()) {
        run.original = top.folder;
    } else {
        Path const shown = readable(join(top.folder.path, source.relative));
        Below const below = open_below(top.folder, source.relative, run.original);
        if (below.error != 0) {
            // Found as a folder, or not found at all: the system's text says why it cannot be opened.
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
        run.own_original = true;
        Identity identity;
        if (identity_of(run.original, identity) != 0 || identity != source.identity) {
            run.problem = text("the folder ") + shown + text(" changed during the drop: it is another folder now");
            run.cause = text("its folder changed during the drop");
            return;
        }
    }
    if (source.relative.empty()) {
        run.mirrors.push_back(copies.folder);
        run.own_mirror.push_back(false);
        return;
    }
    Folder mirror;
    Below const below = open_below(copies.folder, source.relative, mirror, &run.made);
    if (below.error != 0) {
        Ended const not_one = not_a_folder(shown_in_copies(PathView(source.relative).substr(0, below.end)), below);
        run.problem = not_one.why;
        run.cause = not_one.cause;
        return;
    }
    run.mirrors.push_back(mirror);
    run.own_mirror.push_back(true);
}

// Converts the copy of the job `index`, or ends it with why not.
void run_job(Run& run, std::size_t index) {
    const Work& work = run.session.work;
    const Job& job = work.jobs[index];
    if (job.source != run.source) hold(run, job);
    std::vector<Path> made = std::move(run.made);
    run.made.clear();
    if (!run.problem.empty()) return end_job(run, index, failed(run.problem, run.cause, std::move(made)));
    std::uint32_t const top = work.sources[job.source].top;
    const Folder& copies = run.session.copies[top].folder;
    const Folder& mirror = run.mirrors.back();
    Path const copy = copy_path(work, job);

    // What holds the copy's name already: a copy of the original's size is one; another file is
    // made again, as what a power cut or a full disk left; anything else stays, and is named.
    Found found;
    bool replace = false;
    Path again;
    if (Error const error = find(mirror, job.name, found)) {
        return end_job(run, index, failed(text("cannot look for ") + shown_in_copies(copy) + text(": ") + system_text(error),
                                          text("cannot look for its copy: ") + system_text(error), std::move(made)));
    }
    if (found.kind == Found::Kind::file) {
        if (std::optional<Ended> twins = twins_copy(job, copies, copy)) {
            twins->made = std::move(made);
            return end_job(run, index, std::move(*twins));
        }
        Version original;
        if (Error const error = run.files.version(run.original, job.name, job.link, no_handle, original)) {
            Path const why = text(step_words(Outcome::Step::open)) + text(": ") + system_text(error);
            return end_job(run, index, failed(why, why, std::move(made)));
        }
        if (original.size == found.size) return end_job(run, index, already(job, copies, copy));
        replace = true;
        again = text(copy_again(found.size, original.size));
    } else if (found.kind != Found::Kind::missing) {
        bool const folder = found.kind == Found::Kind::folder;
        return end_job(run, index,
                       failed(shown_in_copies(copy) + text(" is ") + text(kind_words(found.kind)) +
                                  text(folder ? ", not a converted copy" : ", not a converted copy; it stays as it is"),
                              text("converted holds ") + text(kind_words(found.kind)) +
                                  text(folder ? " where its copy goes" : " where its copy goes; it stays as it is"),
                              std::move(made)));
    }

    // The copy is made in the top folder of copies, on the file system of every copy below it,
    // under a name that no file of the tree has: the process id and a number make it unique.
    Path temporary = temporary_name<Path::value_type>(run.session.process_id, ++run.session.copies_made);
    Outcome outcome = write_converted(run.files, {run.original, job.name}, job.link, {copies, temporary}, run.buffer, run.stop);
    if (outcome.step != Outcome::Step::done) {
        Ended ended = verdict(job, copies, copy, outcome, temporary, again);
        ended.made = std::move(made);
        return end_job(run, index, std::move(ended));
    }
    run.bytes += outcome.size;
    run.written.push_back({index, outcome, std::move(temporary), top, run.mirrors.size() - 1, replace, std::move(again),
                           std::move(made)});
    if (run.bytes >= bytes_per_run) give_names(run);
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
    for (const Job& job : work.jobs) {
        std::uint32_t const top = source_of(work, job).top;
        if (!session.copies[top].ready) session.copies[top] = make_ready(session, work.tops[top]);
    }
    for (const Met& met : work.met) {
        if (met.relative.empty() && session.copies[met.top].ready) continue;  // its top's own
        const Top& top = work.tops[met.top];
        Folder parent, copies;
        bool const below = !met.relative.empty();
        if (below && open_below(top.folder, met.relative, parent).error != 0) continue;
        if (open_folder(below ? parent : top.folder, met.name, true, copies) == 0) {
            session.counts.removed += remove_leftovers(copies);
            close_folder(copies);
        }
        if (below) close_folder(parent);
    }
}

// Whether a drop other than this one is at work in the folder of copies `copies`.
bool others_at_work(const Session& session, const Folder& copies) {
    for (const Path& name : names_in(copies)) {
        std::optional<std::uint32_t> const owner = lock_owner(PathView(name));
        if (owner && *owner != session.process_id && at_work(copies, *owner)) return true;
    }
    return false;
}

// Removes each folder that this drop made and that holds nothing at its end, the deepest first,
// such as the folder of a file whose copy failed, and a folder of copies that holds no copy; not
// in a folder of copies where another drop is at work, which may be about to give a copy its name
// there. A folder that was there before the drop is never removed.
void remove_empty_folders(Session& session) {
    std::stable_sort(session.made.begin(), session.made.end(),
                     [](const auto& a, const auto& b) { return a.second.size() > b.second.size(); });
    std::vector<std::optional<bool>> alone(session.copies.size());  // asked once per folder of copies
    const auto by_us = [&](std::uint32_t top) {
        const Copies& copies = session.copies[top];
        if (!alone[top]) alone[top] = copies.problem.empty() && !others_at_work(session, copies.folder);
        return *alone[top];
    };
    for (const auto& [top, relative] : session.made) {
        if (!by_us(top)) continue;
        PathView const folder = relative, above = parent(folder);
        Folder held;
        bool const deeper = above.size() != 0 && above != folder;
        if (deeper && open_below(session.copies[top].folder, above, held).error != 0) continue;
        remove_folder(deeper ? held : session.copies[top].folder, Path(last_component(folder)));
        if (deeper) close_folder(held);
    }
    for (std::uint32_t top = 0; top < session.copies.size(); ++top) {
        Copies& copies = session.copies[top];
        if (!copies.ready) continue;
        if (copies.problem.empty()) {
            // What was renamed into it on the disk too, as far as its file system flushes all at once.
            system_files().flush_all(copies.folder);
            unlock_folder(copies.folder, session.process_id, copies.lock);
        }
        close_folder(copies.folder);
        // Another drop at work there holds its lock file in it: only an empty one goes.
        if (copies.made) remove_folder(session.work.tops[top].folder, text("converted"));
    }
}

}  // namespace

std::size_t threads_at_work(const Work& work, std::size_t threads) {
    std::size_t const twins = static_cast<std::size_t>(
        std::count_if(work.jobs.begin(), work.jobs.end(), [](const Job& job) { return job.case_twin; }));
    std::size_t const most = std::max(twins, work.jobs.size() - twins);
    return std::min(threads, (most + jobs_per_run - 1) / jobs_per_run);
}

void convert(const Work& work, std::size_t threads, const std::atomic<bool>& stop, Counts& counts,
             std::vector<Failure>& failures, std::vector<Path>& copies_in) {
    Session session{work, process_id(), 0, {}, {}, 0, work.jobs.size(), counts, failures,
                    std::vector<bool>(work.tops.size()), console_title(), {}, {}};
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
            [&](std::size_t r, std::span<std::uint8_t> buffer, std::vector<std::pair<std::size_t, Ended>>& results) {
                Run run{session, system_files(), buffer, stop, results};
                std::size_t const first = r * jobs_per_run;
                run_jobs(run, std::span<const std::size_t>(phase).subspan(first, std::min(jobs_per_run, phase.size() - first)));
            },
            [&](std::size_t i, Ended& ended) { end(session, work.jobs[i], ended); }, [&] { after_batch(session); });
        counts.not_done += phase.size() - ran;
    }
    remove_empty_folders(session);
    if (session.title) set_console_title(*session.title);
    for (std::uint32_t top = 0; top < work.tops.size(); ++top) {
        if (session.received[top]) copies_in.push_back(readable(join(work.tops[top].folder.path, text("converted"))));
    }
}

}  // namespace drop

// Converting copies on Linux. A drop marks each folder of copies it uses with a lock file that it
// holds locked (flock) while it runs and removes when it ends; the kernel drops the lock of a
// drop that is killed, so the next drop tells that drop's temporary copies from those of a drop
// still at work, and removes them.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "convert.hpp"
#include "files_posix.hpp"
#include "output_posix.hpp"
#include "paths.hpp"

namespace drop {

namespace {

enum class Verdict { converted, skipped, failed, not_done };

// How one job ended, as its line says it.
struct Ended {
    Verdict verdict;
    std::string why;
};

// A folder of converted copies that this drop has made ready: leftovers removed, and its lock
// file held locked until the drop ends; or why it cannot be used.
struct Folder {
    std::string path;
    int lock;
    std::string problem;
};

// What the conversion of all jobs keeps track of.
struct Session {
    std::uint32_t process_id;
    std::atomic<std::uint64_t> copies_made;  // numbers the temporary copies
    std::vector<Folder> folders;             // folders of copies made ready
    std::size_t done, total;                 // jobs ended, of all
    Counts& counts;
    std::vector<std::string>& failures;
};

// Ends `job` with its numbered line.
void end(Session& session, const Job& job, const Ended& ended) {
    ++session.done;
    // Appended piece by piece: GCC 12 warns of an overlapping copy, wrongly, for a literal + a
    // temporary string.
    std::string progress = "[";
    progress.append(std::to_string(session.done)).append("/").append(std::to_string(session.total)).append("] ");
    const char* const word = ended.verdict == Verdict::converted ? "converted: "
                             : ended.verdict == Verdict::skipped ? "skipped: "
                             : ended.verdict == Verdict::failed  ? "failed: "
                                                                 : "not done: ";
    std::string line = word + job.shown;
    if (!ended.why.empty()) line.append(" (").append(ended.why).append(")");
    say(progress + line, ended.verdict == Verdict::failed);
    switch (ended.verdict) {
    case Verdict::converted: ++session.counts.converted; break;
    case Verdict::skipped: ++session.counts.skipped; break;
    case Verdict::failed:
        ++session.counts.failed;
        session.failures.push_back(line);
        break;
    case Verdict::not_done: ++session.counts.not_done; break;
    }
}

// The names in one folder, sorted, as its listing gives them; kept per thread for the folder
// asked last, since the jobs of one folder come one after another.
struct Listing {
    std::string folder;
    std::vector<std::string> names;
};

bool listed(Listing& listing, const std::string& folder, std::string_view name, bool fresh) {
    if (listing.folder != folder || fresh) {
        listing.folder = folder;
        listing.names.clear();
        if (DIR* const d = opendir(folder.c_str())) {
            while (dirent const* const entry = readdir(d)) listing.names.emplace_back(entry->d_name);
            closedir(d);
        }
        std::sort(listing.names.begin(), listing.names.end());
    }
    return std::binary_search(listing.names.begin(), listing.names.end(), name);
}

// Whether the file found at the place of `job`'s copy has the copy's own path: each name of it
// below the folder of copies is in its folder as it is spelled. A case-insensitive mount (vfat,
// exFAT, NTFS, casefold ext4) also finds a file whose names differ in letter case, or in a way of
// writing a letter: the copy of a case twin, which is no copy of this file.
bool spelled_so(const Job& job) {
    thread_local Listing listing;
    thread_local std::string checked;  // the last folder whose path is known to be spelled so
    std::string_view rest = job.relative;
    std::string folder = job.copies;
    std::string const own = std::string(parent(std::string_view(join(job.copies, job.relative))));
    while (!rest.empty()) {
        std::size_t const slash = rest.find('/');
        std::string_view const name = rest.substr(0, slash);
        bool const last = slash == std::string_view::npos;
        if (last || own != checked) {
            // A listing taken before a thread made the name is taken again before it says no.
            if (!listed(listing, folder, name, false) && !listed(listing, folder, name, true)) return false;
        }
        folder = join(folder, name);
        rest.remove_prefix(last ? rest.size() : slash + 1);
    }
    checked = own;
    return true;
}

std::string taken_by_twin_why(const Job& job) {
    return "converted/" + readable(job.relative) +
           " is the copy of a file whose path differs only in letter case, and converted cannot hold both";
}

// The verdict on a job whose copy's name is taken.
Ended already(const Job& job) {
    if (!spelled_so(job)) return {Verdict::failed, taken_by_twin_why(job)};
    return {Verdict::skipped, "already converted: converted/" + readable(job.relative) + " exists"};
}

// The folder `folder`, made if it is not there; `shown_as` names it in `why` when it cannot be
// made or is a file.
bool make_folder(const std::string& folder, const std::string& shown_as, std::string& why) {
    if (mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST) {
        why = "cannot make the folder " + shown_as + ": " + system_text(errno);
        return false;
    }
    struct stat status;
    if (stat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
        why = shown_as + " is a file, not a folder";
        return false;
    }
    return true;
}

// Whether the drop with process id `owner` is still at work in the folder of copies `copies`: its
// lock file is locked. A lock file that nobody holds is one left by a drop that was killed, and
// goes; it is removed while it is locked here, so that no drop takes it for its own meanwhile.
bool at_work(const std::string& copies, std::uint32_t owner) {
    std::string const lock = join(copies, lock_name<char>(owner));
    int const fd = open(lock.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    bool const held = flock(fd, LOCK_EX | LOCK_NB) != 0;
    if (!held) unlink(lock.c_str());
    close(fd);
    return held;
}

// Removes from the folder of copies `copies` the temporary copies and lock files of drops that
// were killed before their end, each temporary copy named in a line.
void remove_leftovers(const std::string& copies) {
    DIR* const listing = opendir(copies.c_str());
    if (listing == nullptr) return;
    std::vector<std::string> temporaries, locks;
    while (dirent const* const entry = readdir(listing)) {
        if (temporary_owner(std::string_view(entry->d_name))) temporaries.emplace_back(entry->d_name);
        else if (lock_owner(entry->d_name)) locks.emplace_back(entry->d_name);
    }
    closedir(listing);
    for (const std::string& name : temporaries) {
        if (at_work(copies, *temporary_owner(std::string_view(name)))) continue;
        std::string const leftover = join(copies, name);
        if (unlink(leftover.c_str()) == 0) {
            say("removed: " + readable(leftover) + " (a temporary copy left by a drop that was closed or stopped)");
        }
    }
    for (const std::string& name : locks) at_work(copies, *lock_owner(name));
}

// Makes the folder of copies `copies` ready for this drop: made if needed, cleared of leftovers,
// and marked by a lock file that this drop makes and holds locked. Another drop may take a lock
// file for a dead drop's between its making and its locking here, and remove it: it is then made
// again.
Folder make_ready(const Session& session, const std::string& copies) {
    Folder folder{copies, -1, {}};
    if (!make_folder(copies, readable(copies), folder.problem)) return folder;
    remove_leftovers(copies);
    std::string const lock = join(copies, lock_name<char>(session.process_id));
    for (int attempt = 0; attempt < 10 && folder.lock < 0; ++attempt) {
        int const fd = open(lock.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0) {
            folder.problem = "cannot write in " + readable(copies) + ": " + system_text(errno);
            return folder;
        }
        // Waiting: another drop holds a new lock file only for the moment it takes to tell
        // whether the drop that made it is still at work.
        int locked = 0;
        while ((locked = flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
        }
        if (locked != 0) {
            folder.problem = "cannot lock " + readable(lock) + ": " + system_text(errno);
            unlink(lock.c_str());
            close(fd);
            return folder;
        }
        struct stat held, named;
        if (fstat(fd, &held) == 0 && stat(lock.c_str(), &named) == 0 && held.st_ino == named.st_ino &&
            held.st_dev == named.st_dev) {
            folder.lock = fd;
        } else {
            close(fd);
        }
    }
    if (folder.lock < 0) folder.problem = "cannot lock " + readable(lock);
    return folder;
}

// Makes every folder between `copies` and the copy's own folder `folder`. `made` is the last
// folder this thread knows to exist.
bool make_mirror(const std::string& copies, const std::string& folder, std::string& made, std::string& why) {
    if (folder == made || folder == copies) return true;
    struct stat status;
    if (stat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
        std::string path = copies;
        std::string_view rest = std::string_view(folder).substr(copies.size() + 1);
        while (!rest.empty()) {
            std::size_t const end = rest.find('/');
            path = join(path, rest.substr(0, end));
            if (!make_folder(path, "converted/" + readable(path.substr(copies.size() + 1)), why)) return false;
            rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
        }
    }
    made = folder;
    return true;
}

// Why the copy of a job failed at `outcome`'s step, with the system's texts.
std::string failure_why(const Outcome& outcome, const std::string& copy) {
    std::string why = step_words(outcome.step);
    if (outcome.step != Outcome::Step::too_short) why += ": " + system_text(outcome.error);
    if (outcome.left) why += "; the temporary copy " + readable(copy) + " stays: " + system_text(outcome.left_error);
    return why;
}

// The work of one job, on a thread of the pool.
Ended run(Session& session, const Job& job, const Folder& folder, std::span<std::uint8_t> buffer,
          const std::atomic<bool>& stop) {
    if (!folder.problem.empty()) return {Verdict::failed, folder.problem};
    std::string const target = join(job.copies, job.relative);
    struct stat status;
    if (stat(target.c_str(), &status) == 0) {
        if (S_ISDIR(status.st_mode)) {
            return {Verdict::failed, "converted/" + readable(job.relative) + " is a folder, not a converted copy"};
        }
        return already(job);
    }
    thread_local std::string made;
    std::string why;
    if (!make_mirror(job.copies, std::string(parent(std::string_view(target))), made, why)) {
        return {Verdict::failed, why};
    }

    // The copy is made in the top folder of copies, on the file system of every copy below it,
    // under a name that no file of the tree has: the process id and a number make it unique.
    std::string const copy = join(job.copies, temporary_name<char>(session.process_id, ++session.copies_made));
    Outcome const outcome = copy_converted(posix_files(), job.source, copy, target, buffer, stop);
    switch (outcome.step) {
    case Outcome::Step::done: return {Verdict::converted, {}};
    case Outcome::Step::stopped: return {Verdict::not_done, "stopped; no copy kept"};
    case Outcome::Step::inside_copies: return {Verdict::skipped, "a link to a converted copy"};
    case Outcome::Step::not_regular: return {Verdict::skipped, "not a regular file"};
    case Outcome::Step::taken: return already(job);  // made meanwhile: by a case twin, or by another drop
    default: return {Verdict::failed, failure_why(outcome, copy)};
    }
}

}  // namespace

void convert(const std::vector<Job>& jobs, const std::vector<Path>& met, std::size_t threads,
             const std::atomic<bool>& stop, Counts& counts, std::vector<Path>& failures) {
    Session session{static_cast<std::uint32_t>(getpid()), 0, {}, 0, jobs.size(), counts, failures};

    std::vector<std::size_t> const folder_of = prepare_folders(
        jobs, met, session.folders, [&](const Path& copies) { return make_ready(session, copies); },
        [](const Path& copies) { remove_leftovers(copies); });
    counts.not_done += run_twins_last<Ended>(
        jobs, threads, stop,
        [&](std::size_t i, std::span<std::uint8_t> buffer) {
            return run(session, jobs[i], session.folders[folder_of[i]], buffer, stop);
        },
        [&](std::size_t i, const Ended& ended) { end(session, jobs[i], ended); });
    // The lock file goes while it is still locked: nothing of this drop stays but its copies.
    for (const Folder& folder : session.folders) {
        if (folder.lock < 0) continue;
        unlink(join(folder.path, lock_name<char>(session.process_id)).c_str());
        close(folder.lock);
    }
}

}  // namespace drop

// The folders of converted copies, the same on every platform. A drop marks each folder of
// copies it uses with a lock that it holds while it runs; the lock of a drop that was killed is
// held no more, so the next drop tells that drop's temporary copies from those of a drop still at
// work, and removes them.
#include "copies.hpp"

#include <algorithm>
#include <optional>

#include "output.hpp"
#include "paths.hpp"
#include "summary.hpp"

namespace drop {

namespace {

// Removes from the folder of copies `copies` the temporary copies and locks of drops that ended
// before their work, each temporary copy named in a line, in the order of their names. Returns
// the number of temporary copies removed.
std::size_t sweep(const Folder& copies) {
    std::vector<Path> temporaries, locks;
    for (Path& name : names_in(copies)) {
        if (temporary_owner(PathView(name))) temporaries.push_back(std::move(name));
        else if (lock_owner(PathView(name))) locks.push_back(std::move(name));
    }
    std::sort(temporaries.begin(), temporaries.end());  // the same order on every file system
    std::size_t removed = 0;
    for (const Path& name : temporaries) {
        if (at_work(copies, *temporary_owner(PathView(name)))) continue;
        Removal const removal = remove_file(copies, name);
        if (removal == Removal::other) continue;  // no file of a drop's: it stays, unsaid
        // In a window, the end counts the removed: only what stays needs a line of its own.
        say(text(removal == Removal::removed ? "removed: " : "not removed: ") + readable(join(copies.path, name)) +
                text(" (a temporary copy left by a drop that was closed or stopped)"),
            false, removal == Removal::removed);
        removed += removal == Removal::removed ? 1 : 0;
    }
    for (const Path& name : locks) at_work(copies, *lock_owner(PathView(name)));
    return removed;
}

// The problem of a folder of copies, as a line says it with its path and as a cause without. The
// folder, where it was opened, is let go with the others at the end.
void problem(Copies& copies, Path why, Path cause) {
    copies.problem = std::move(why);
    copies.cause = std::move(cause);
}

// Opens the folder of copies of `top`, made first where `make`: a folder there; or, where the
// user made it a link, one that belongs to that user and leads through no other user's link,
// never into the folders being converted nor to a folder that holds them, where the next drop
// would take the copies for originals. Where it leads is judged by the identities of the folders
// that hold each, never by the text of their paths.
Copies open_copies(const Top& top, bool make) {
    Copies copies;
    Path const name = text("converted");
    Path const shown = readable(join(top.folder.path, name));
    Found found;
    Error error = top.copies_by_link || !make ? 0 : make_folder(top.folder, name, top.mode, copies.made);
    if (error == 0) error = find(top.folder, name, found);
    if (error == 0 && found.kind == Found::Kind::link && top.copies_by_link) {
        Followed followed = follow_link(top.folder, name);
        if (followed.error == 0 && !(followed.mine && followed.trusted)) {
            close_folder(followed.folder);
            Path const what = text(followed.mine ? " leads through a link that another user made" : " is a link that another user made");
            problem(copies, shown + what + text("; no copy is made there"), name + what + text("; no copy is made there"));
            return copies;
        }
        error = followed.error;
        if (error == 0) error = open_folder(followed.folder, followed.name, false, copies.folder);
        close_folder(followed.folder);
    } else if (error == 0) {
        error = open_folder(top.folder, name, false, copies.folder);
    }
    if (error != 0) {
        bool const other = found.kind != Found::Kind::missing && found.kind != Found::Kind::folder;
        Path const what = text(" is ") + text(kind_words(found.kind)) + text(", not a folder");
        problem(copies, other ? shown + what : text("cannot make the folder ") + shown + text(": ") + system_text(error),
                other ? name + what : text("cannot make the folder converted: ") + system_text(error));
        return copies;
    }
    ask_file_system(copies.folder);
    if (!top.copies_by_link) return copies;
    Identity identity;
    std::size_t inside = 1, holds = 1;
    std::vector<Identity> const own{top.identity};
    if ((error = identity_of(copies.folder, identity)) == 0 && (error = first_above(copies.folder, own, inside)) == 0) {
        error = first_above(top.folder, std::vector<Identity>{identity}, holds);
    }
    if (error == 0 && inside != 0 && holds != 0) return copies;
    Path const real = real_path(copies.folder);
    Path const where = real.empty() ? text("a folder the system cannot name") : readable(real);
    if (error != 0) {
        problem(copies, text("cannot tell where ") + shown + text(" leads: ") + system_text(error),
                text("cannot tell where converted leads: ") + system_text(error));
    } else if (inside == 0) {
        problem(copies,
                shown + text(" leads to ") + where +
                    text(", inside the folder it is in, where copies would be taken for originals; no copy is made there"),
                text("converted leads inside the folder it is in; no copy is made there"));
    } else {
        problem(copies, shown + text(" leads to ") + where + text(", which holds the folder it is in; no copy is made there"),
                text("converted leads to a folder that holds the folder it is in; no copy is made there"));
    }
    return copies;
}

// Whether a drop other than `process` is at work in the folder of copies `copies`.
bool others_at_work(const Folder& copies, std::uint32_t process) {
    for (const Path& name : names_in(copies)) {
        std::optional<std::uint32_t> const owner = lock_owner(PathView(name));
        if (owner && *owner != process && at_work(copies, *owner)) return true;
    }
    return false;
}

}  // namespace

Copies make_ready(const Top& top, std::uint32_t process, std::size_t& removed) {
    Copies copies = open_copies(top, true);
    copies.ready = true;
    if (!copies.problem.empty()) return copies;
    Path const folder = join(top.folder.path, text("converted")), shown = readable(folder);
    removed += sweep(copies.folder);
    copies.lock = lock_folder(copies.folder, process);
    Path const lock = lock_name<Path::value_type>(process);
    Path const because = copies.lock.error == 0 ? Path() : text(": ") + system_text(copies.lock.error);
    Found taken;
    switch (copies.lock.failed) {
    case Lock::Failed::none:
    {
        // How finely its file system keeps times: asked of the lock, as a time of an odd second
        // and the last tick before the next, which a coarser file system cannot keep.
        Files& files = system_files();
        std::int64_t const asked = unix_epoch + 1000000001 * ticks_per_second + ticks_per_second - 1;
        Version kept;
        if (files.set_time(copies.lock.handle, asked) == 0 &&
            files.version(copies.folder, lock, copies.lock.handle, kept) == 0) {
            copies.window = time_window(asked, kept.written);
        }
        break;
    }
    case Lock::Failed::create:
        // A name taken by what no drop makes there, a link or a folder: said as what it is.
        if (system_files().exists(copies.lock.error) && find(copies.folder, lock, taken) == 0 &&
            taken.kind != Found::Kind::missing && taken.kind != Found::Kind::file) {
            problem(copies, readable(join(folder, lock)) + text(" is ") +
                                text(kind_words(taken.kind)) + text(", where this drop keeps its lock; no copy is made there"),
                    text("converted holds ") + text(kind_words(taken.kind)) +
                        text(" where a drop keeps its lock; no copy is made there"));
            break;
        }
        problem(copies, text("cannot write in ") + shown + because, text("cannot write in converted") + because);
        break;
    case Lock::Failed::hold:
        problem(copies, text("cannot lock ") + readable(join(folder, lock)) + because,
                text("cannot lock converted") + because);
        break;
    }
    return copies;
}

std::size_t clear(const Work& work, const Met& met) {
    const Top& top = work.tops[met.top];
    if (met.relative.empty()) {
        Copies copies = open_copies(top, false);
        std::size_t const removed = copies.problem.empty() ? sweep(copies.folder) : 0;
        close_folder(copies.folder);
        return removed;
    }
    Folder parent, copies;
    std::size_t removed = 0;
    if (open_below(top.folder, met.relative, parent).error != 0) return 0;
    if (open_folder(parent, met.name, false, copies) == 0) {
        ask_file_system(copies);  // on Windows, where it is, which a link in it that leads elsewhere does not share
        removed = sweep(copies);
        close_folder(copies);
    }
    close_folder(parent);
    return removed;
}

void end_copies(const Work& work, std::vector<Copies>& copies, std::vector<Made>& made, std::uint32_t process,
                std::uint32_t keep) {
    std::stable_sort(made.begin(), made.end(), [](const Made& a, const Made& b) { return a.relative.size() > b.relative.size(); });
    std::vector<std::optional<bool>> alone(copies.size());  // asked once per folder of copies
    const auto by_us = [&](std::uint32_t top) {
        if (!alone[top]) alone[top] = copies[top].problem.empty() && !others_at_work(copies[top].folder, process);
        return *alone[top];
    };
    // The deepest first, each beneath its folders held from the one before: a deep tree opens each
    // folder once.
    std::optional<Chain> chain;
    std::uint32_t chain_top = UINT32_MAX;
    for (const Made& folder : made) {
        if (!by_us(folder.top)) continue;
        if (folder.top != chain_top) chain.emplace();
        chain_top = folder.top;
        PathView const relative = folder.relative, above = parent(relative);
        Folder in;
        bool own = false;
        // The chain also lets go of the folder to remove, which it held on the way to one below
        // it: Windows removes no folder that is open.
        if (open_through(*chain, copies[folder.top].folder, above, in, own) != 0) continue;
        Path const name(last_component(relative));
        remove_folder(in, name);
        // One that stays, and whose original would have kept the drop from writing in it.
        Folder kept;
        if (stops_owner(folder.mode) && open_folder(in, name, false, kept) == 0) {
            set_mode(kept, folder.mode);
            close_folder(kept);
        }
        if (own) close_folder(in);
    }
    chain.reset();
    for (std::uint32_t top = 0; top < copies.size(); ++top) {
        Copies& at = copies[top];
        if (!at.ready) continue;
        if (at.problem.empty()) {
            // What was renamed into it on the disk too, as far as its file system flushes all at once.
            system_files().flush_all(at.folder);
            unlock_folder(at.folder, process, at.lock);
            if (at.made && stops_owner(work.tops[top].mode) && by_us(top)) set_mode(at.folder, work.tops[top].mode);
        }
        if (top != keep) close_folder(at.folder);
        // Another drop at work there holds its lock file in it: only an empty one goes, and not
        // the one kept for what the drop keeps there.
        if (at.made && top != keep) remove_folder(work.tops[top].folder, text("converted"));
    }
}

}  // namespace drop

// What a drop gives, the same on every platform: the files and folders given looked up, each
// folder walked to any depth, and a note for whatever of them yields no job. The listing of a
// folder and the look-up of a path are the platform's.
#include "walk.hpp"

#include <utility>

#include "output.hpp"
#include "paths.hpp"
#include "system.hpp"

namespace drop {

namespace {

void note(Work& work, Note::Verdict verdict, Path shown, Path why) {
    work.notes.push_back({verdict, std::move(shown), std::move(why)});
}

// What a file that is neither a folder nor a regular file is, for its line; empty for those.
std::string_view other_kind(Entry::Type type) {
    switch (type) {
    case Entry::Type::fifo: return "not a regular file but a FIFO";
    case Entry::Type::socket: return "not a regular file but a socket";
    case Entry::Type::device: return "not a regular file but a device";
    case Entry::Type::file:
    case Entry::Type::folder:
    case Entry::Type::folder_link: break;
    }
    return {};
}

// Lists the folder `top` and every folder below it, and adds a job for each WAV file found. The
// folders still to list are kept in a list, not on the stack, so that no depth can exhaust it.
void walk(const Path& top, Work& work) {
    Path const copies = join(top, text("converted"));
    std::size_t const jobs_before = work.jobs.size();
    std::vector<Path> pending{Path()};  // relative to the top
    bool listed_all = true;  // what could not be listed may hold WAV files
    while (!pending.empty()) {
        Path const relative = std::move(pending.back());
        pending.pop_back();
        Path const folder = relative.empty() ? top : join(top, relative);
        Listing const listing = list_folder(folder, relative.empty());
        if (!listing.opened) {
            listed_all = false;
            note(work, Note::Verdict::failed, readable(folder),
                 text("cannot list the folder: ") + system_text(listing.error));
            continue;
        }
        std::vector<Path> wavs, folders;
        for (const Entry& entry : listing.entries) {
            bool const folder_like = entry.type == Entry::Type::folder || entry.type == Entry::Type::folder_link;
            if (folder_like && is_converted_folder(PathView(entry.name))) {
                // Used whatever it is, a link or a mount point too: its leftovers are cleared.
                work.met.push_back(join(folder, entry.name));
            } else if (entry.type == Entry::Type::folder_link) {
                // A link to a folder may lead out of the tree, or round in a loop.
                note(work, Note::Verdict::not_entered, readable(join(folder, entry.name)), text("a folder link"));
            } else if (entry.type == Entry::Type::folder) {
                folders.push_back(join(relative, entry.name));
            } else if (is_wav(PathView(entry.name))) {
                if (entry.type == Entry::Type::file) wavs.push_back(entry.name);
                else note(work, Note::Verdict::skipped, readable(join(folder, entry.name)),
                          text(other_kind(entry.type)));
            }
        }
        if (listing.error != 0) {
            listed_all = false;
            note(work, Note::Verdict::failed, readable(folder),
                 text("cannot list the whole folder: ") + system_text(listing.error));
        }

        sort_names(wavs, compare_ignoring_case);
        for (const Path& name : wavs) {
            add_job(work, join(folder, name), copies, join(relative, name).size());
        }
        sort_names(folders, compare_ignoring_case);
        pending.insert(pending.end(), std::make_move_iterator(folders.rbegin()),
                       std::make_move_iterator(folders.rend()));
    }
    if (work.jobs.size() == jobs_before && listed_all) {
        note(work, Note::Verdict::failed, readable(top), text("no .wav file in this folder or in a folder below it"));
    }
}

}  // namespace

void take(const Path::value_type* argument, Work& work) {
    if (*argument == 0) {
        return note(work, Note::Verdict::failed, text("\"\""), text("an empty argument names no file or folder"));
    }
    Given const given = look_up(argument);
    if (given.error != 0) {
        return note(work, Note::Verdict::failed, given.shown, system_text(given.error, given.shown));
    }
    bool const folder = given.type == Entry::Type::folder;
    if (inside_converted(PathView(given.source), folder) || inside_converted(PathView(given.real), folder)) {
        return note(work, Note::Verdict::skipped, given.shown,
                    text(folder ? "a folder of converted copies" : "a converted copy itself"));
    }
    if (folder) return walk(given.source, work);
    if (std::string_view const kind = other_kind(given.type); !kind.empty()) {
        return note(work, Note::Verdict::skipped, given.shown, text(kind));
    }
    PathView const source = given.source;
    add_job(work, given.source, join(parent(source), text("converted")), last_component(source).size());
}

}  // namespace drop

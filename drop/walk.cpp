// What a drop gives, the same on every platform: the files and folders given looked up, each
// folder walked to any depth beneath the folder given, and a note for whatever of them yields no
// job. The listing of a folder and the look-up of a path are the platform's.
#include "walk.hpp"

#include <algorithm>
#include <utility>

#include "output.hpp"
#include "paths.hpp"
#include "summary.hpp"
#include "system.hpp"

namespace drop {

namespace {

Note& note(Work& work, Note::Verdict verdict, Path shown, Path why, Path cause = {}) {
    if (cause.empty()) cause = why;
    Path brief = shown;
    work.notes.push_back({verdict, std::move(shown), std::move(why), std::move(cause), std::move(brief)});
    return work.notes.back();
}

// Marks the folder `name` in `folder` as one of copies, whose files are never originals: false
// where it cannot be opened.
bool mark_copies(Work& work, const Folder& folder, const Path& name, bool follow) {
    Folder held;
    if (open_folder(folder, name, follow, held) != 0) return false;
    Identity identity;
    if (identity_of(held, identity) == 0) work.copies.push_back(identity);
    close_folder(held);
    return true;
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

// The top of the folder `folder`, held: the one already taken when it is the same folder, and
// `folder` let go; else `folder`, now the drop's.
std::uint32_t top_of(Work& work, Folder& folder) {
    Identity identity;
    std::uint32_t mode = 0777;
    identity_of(folder, identity, &mode);
    auto const known = std::find_if(work.tops.begin(), work.tops.end(), [&](const Top& top) {
        return identity != Identity{} && top.identity == identity;
    });
    if (known != work.tops.end()) {
        close_folder(folder);
        return static_cast<std::uint32_t>(known - work.tops.begin());
    }
    // Whether its folder of copies is a link that the user made, as the drop found it: a folder
    // swapped for a link later is never followed.
    Found copies;
    Path const converted = text("converted");
    bool const found = find(folder, converted, copies) == 0;
    bool const by_link = found && copies.kind == Found::Kind::link;
    // Whatever it leads to holds copies, never originals, even where it may not be used.
    if (by_link || (found && copies.kind == Found::Kind::folder)) mark_copies(work, folder, converted, by_link);
    work.tops.push_back({std::move(folder), identity, mode, by_link});
    return static_cast<std::uint32_t>(work.tops.size() - 1);
}

// The source at `relative` below `top`, listed as `identity`: the one already taken for it, or a
// new one.
std::uint32_t source_of(Work& work, std::uint32_t top, const Path& relative, const Identity& identity) {
    if (!work.sources.empty()) {
        const Source& last = work.sources.back();
        if (last.top == top && last.relative == relative) return static_cast<std::uint32_t>(work.sources.size() - 1);
    }
    work.sources.push_back({top, relative, identity});
    return static_cast<std::uint32_t>(work.sources.size() - 1);
}

// Lists the folder `top` and every folder below it, each opened beneath the one above it, and
// adds a job for each WAV file found. The folders still to list are kept in a list, not on the
// stack, so that no depth can exhaust it.
void walk(Work& work, std::uint32_t top_index, const std::atomic<bool>& stop) {
    std::size_t const jobs_before = work.jobs.size();
    std::vector<Path> pending{Path()};  // relative to the top
    bool listed_all = true;  // what could not be listed may hold WAV files
    Chain held;
    while (!pending.empty() && !stop.load(std::memory_order_relaxed)) {
        Path const relative = std::move(pending.back());
        pending.pop_back();
        const Top& top = work.tops[top_index];
        Path const shown = relative.empty() ? top.folder.path : join(top.folder.path, relative);
        // A note of `name` in this folder, or of the folder itself, named briefly in a window.
        const auto note_here = [&](Note::Verdict verdict, PathView name, Path why, Path cause = {}) -> Note& {
            Path const below = name.empty() ? relative : relative.empty() ? Path(name) : join(relative, name);
            Note& made = note(work, verdict, readable(below.empty() ? top.folder.path : join(top.folder.path, below)),
                              std::move(why), std::move(cause));
            made.brief = readable(brief_path(top, below));
            return made;
        };
        Folder opened;
        bool own = false;
        Error error = relative.empty() ? 0 : open_through(held, top.folder, relative, opened, own);
        const Folder& folder = relative.empty() ? top.folder : opened;
        Identity identity;
        Listing listing;
        if (error == 0) error = identity_of(folder, identity);
        if (error == 0) listing = list_folder(folder);
        if (error != 0 || !listing.opened) {
            if (own) close_folder(opened);
            listed_all = false;
            note_here(Note::Verdict::failed, {}, text("cannot list the folder: ") + system_text(error != 0 ? error : listing.error));
            continue;
        }
        std::vector<Entry> wavs;
        std::vector<Path> folders;
        for (Entry& entry : listing.entries) {
            bool const folder_like = entry.type == Entry::Type::folder || entry.type == Entry::Type::folder_link;
            Path const path = join(shown, entry.name);
            if ((folder_like || entry.link) && is_converted_folder(PathView(entry.name))) {
                // The top's folder of copies is judged where it is used; one below the top is
                // entered only where it is a folder, never through a link: its leftovers are
                // cleared, and its files are copies.
                if (relative.empty() ||
                    (entry.type == Entry::Type::folder && mark_copies(work, folder, entry.name, false))) {
                    work.met.push_back({top_index, relative, entry.name});
                } else if (entry.type != Entry::Type::folder) {
                    note_here(Note::Verdict::not_entered, entry.name, text("a folder link"));
                }
                continue;
            }
            if (entry.link) {
                // A link leads anywhere: only where it leads beneath the folder given is it followed.
                Link link = judge_link(work.copies, top, folder, entry.name, false);
                close_folder(link.followed.folder);
                switch (link.where) {
                case Link::Where::folder: entry.type = Entry::Type::folder_link; break;
                case Link::Where::file:
                case Link::Where::broken: break;  // a job, which fails with why where it cannot be followed
                case Link::Where::other:
                case Link::Where::outside:
                case Link::Where::copies:
                    if (is_wav(PathView(entry.name))) {
                        note_here(Note::Verdict::skipped, entry.name, link_words(link)).notable =
                            link.where == Link::Where::outside;
                    }
                    continue;
                }
            }
            if (entry.type == Entry::Type::folder_link) {
                // A link to a folder may lead out of the tree, or round in a loop.
                note_here(Note::Verdict::not_entered, entry.name, text("a folder link"));
            } else if (entry.type == Entry::Type::folder) {
                folders.push_back(relative.empty() ? entry.name : join(relative, entry.name));
            } else if (is_wav(PathView(entry.name))) {
                if (entry.type == Entry::Type::file) wavs.push_back(std::move(entry));
                else note_here(Note::Verdict::skipped, entry.name, text(other_kind(entry.type)));
            }
        }
        if (own) close_folder(opened);  // held while its links and folders of copies are judged
        if (listing.error != 0) {
            listed_all = false;
            note_here(Note::Verdict::failed, {}, text("cannot list the whole folder: ") + system_text(listing.error));
        }

        std::sort(wavs.begin(), wavs.end(),
                  [](const Entry& a, const Entry& b) { return name_before(a.name, b.name, compare_ignoring_case); });
        if (!wavs.empty()) {
            std::uint32_t const source = source_of(work, top_index, relative, identity);
            for (Entry& wav : wavs) work.jobs.push_back({std::move(wav.name), source, wav.link, false});
        }
        sort_names(folders, compare_ignoring_case);
        pending.insert(pending.end(), std::make_move_iterator(folders.rbegin()),
                       std::make_move_iterator(folders.rend()));
    }
    if (work.jobs.size() == jobs_before && listed_all && !stop.load()) {
        const Top& top = work.tops[top_index];
        note(work, Note::Verdict::failed, readable(top.folder.path), text("no .wav file in this folder or in a folder below it"),
             text("no .wav file in the folder or in a folder below it"))
            .brief = readable(brief_path(top, {}));
    }
}

}  // namespace

Below open_below(const Folder& base, PathView relative, Folder& folder, std::vector<Path>* made,
                 std::vector<std::uint32_t>* modes) {
    Folder at;  // unused while at `base`, which stays the caller's
    std::size_t start = 0;
    for (std::size_t depth = 0;; ++depth) {
        std::size_t const end = std::min(relative.find(separator<Path::value_type>, start), relative.size());
        Path const name(relative.substr(start, end - start));
        const Folder& parent = start == 0 ? base : at;
        Below below{0, end, made != nullptr, std::nullopt};
        bool made_now = false;
        if (made != nullptr) {
            std::uint32_t const mode = modes != nullptr && depth < modes->size() ? (*modes)[depth] : 0777U;
            below.error = make_folder(parent, name, mode, made_now);
        }
        if (made_now) made->emplace_back(relative.substr(0, end));
        Folder next;
        if (below.error == 0) {
            below.making = false;
            below.error = open_folder(parent, name, false, next);
            Found found;
            if (below.error != 0 && find(parent, name, found) == 0) below.found = found.kind;
        }
        if (below.error == 0 && made == nullptr && modes != nullptr) {
            Identity identity;
            std::uint32_t mode = 0777;
            below.error = identity_of(next, identity, &mode);
            modes->push_back(mode);
            if (below.error != 0) close_folder(next);
        }
        if (start != 0) close_folder(at);
        if (below.error != 0) return below;
        at = std::move(next);
        if (end == relative.size()) break;
        start = end + 1;
    }
    folder = std::move(at);
    return {};
}

Chain::Chain() : room(std::min<std::size_t>(descriptors_left() / 4, 1024)) {}

Chain::~Chain() {
    for (Folder& folder : folders) close_folder(folder);
}

Error open_through(Chain& chain, const Folder& base, PathView relative, Folder& folder, bool& own) {
    std::vector<Path> names;
    for (std::size_t start = 0; start < relative.size();) {
        std::size_t const end = std::min(relative.find(separator<Path::value_type>, start), relative.size());
        names.emplace_back(relative.substr(start, end - start));
        start = end + 1;
    }
    std::size_t same = 0;
    while (same < chain.names.size() && same < names.size() && chain.names[same] == names[same]) ++same;
    while (chain.folders.size() > same) {
        close_folder(chain.folders.back());
        chain.folders.pop_back();
        chain.names.pop_back();
    }
    own = false;
    Folder at = chain.folders.empty() ? base : chain.folders.back();
    for (std::size_t i = same; i < names.size(); ++i) {
        Folder next;
        Error const error = open_folder(at, names[i], false, next);
        if (own) close_folder(at);
        if (error != 0) return error;
        own = chain.folders.size() >= chain.room;
        if (!own) {
            chain.folders.push_back(next);
            chain.names.push_back(names[i]);
        }
        at = next;
    }
    folder = at;
    return 0;
}

Link judge_link(std::span<const Identity> copies, const Top& top, const Folder& folder, const Path& name, bool given) {
    Link link;
    link.followed = follow_link(folder, name);
    link.error = link.followed.error;
    if (link.error == 0) link.error = find(link.followed.folder, link.followed.name, link.found);
    // Where it is, by the identities of the folders that hold it: beneath the top, or in a folder
    // of copies, which may lie anywhere.
    std::vector<Identity> marks{top.identity};
    marks.insert(marks.end(), copies.begin(), copies.end());
    std::size_t met = marks.size();
    if (link.error == 0) link.error = first_above(link.followed.folder, marks, met);
    if (link.error != 0) return link;
    using Kind = Found::Kind;
    if (link.found.kind == Kind::folder) link.where = Link::Where::folder;  // never entered, wherever it leads
    else if (met != 0 && met < marks.size()) link.where = Link::Where::copies;
    else if (met != 0 && !given) link.where = Link::Where::outside;
    else if (link.found.kind == Kind::file) link.where = Link::Where::file;
    else if (link.found.kind != Kind::missing && link.found.kind != Kind::link) link.where = Link::Where::other;
    return link;
}

Path link_words(const Link& link) {
    switch (link.where) {
    case Link::Where::outside: return text("a link that leads outside the folder given");
    case Link::Where::copies: return text("a link to a converted copy");
    case Link::Where::other: return text("a link to ") + text(kind_words(link.found.kind)) + text(", not a regular file");
    case Link::Where::file:
    case Link::Where::folder:
    case Link::Where::broken: break;
    }
    return {};
}

void take(const Path::value_type* argument, Work& work, const std::atomic<bool>& stop) {
    if (*argument == 0) {
        note(work, Note::Verdict::failed, text("\"\""), text("an empty argument names no file or folder"));
        return;
    }
    Given given = look_up(argument);
    if (given.error != 0) {
        note(work, Note::Verdict::failed, readable(given.shown), system_text(given.error, given.shown),
                    system_text(given.error));
        return;
    }
    bool const folder = given.type == Entry::Type::folder;
    if (inside_converted(PathView(given.shown), folder) || inside_converted(PathView(given.real), folder)) {
        close_folder(given.folder);
        note(work, Note::Verdict::skipped, readable(given.shown),
                    text(folder ? "a folder of converted copies" : "a converted copy itself"));
        return;
    }
    if (std::string_view const kind = other_kind(given.type); !kind.empty()) {
        close_folder(given.folder);
        note(work, Note::Verdict::skipped, readable(given.shown), text(kind));
        return;
    }
    std::uint32_t const top = top_of(work, given.folder);
    if (folder) {
        work.tops[top].given = true;
        return walk(work, top, stop);
    }
    Identity identity = work.tops[top].identity;
    work.jobs.push_back({std::move(given.name), source_of(work, top, Path(), identity), true, false, true});
}

Path brief_path(const Top& top, PathView relative) {
    PathView const name = last_component(PathView(top.folder.path));
    if (!top.given || name.empty()) return relative.empty() ? top.folder.path : join(top.folder.path, relative);
    return relative.empty() ? Path(name) : join(name, relative);
}

void release(Work& work) {
    for (Top& top : work.tops) close_folder(top.folder);
}

}  // namespace drop

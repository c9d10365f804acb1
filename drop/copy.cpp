#include "copy.hpp"

#include <algorithm>

namespace drop {

void convert_block(std::span<std::uint8_t> block, std::uint64_t offset) {
    std::size_t const first = offset >= kept_bytes ? 0 : static_cast<std::size_t>(kept_bytes - offset);
    for (std::size_t i = first; i < block.size(); ++i) block[i] = swap_halves(block[i]);
}

namespace {

// Fills `buffer` from `file`, which holds `left` more bytes by its size: a read may return less
// than asked before the end, and the size tells where the end is without a read that finds it.
// Fewer than asked come back only where the file ended before its size.
Error fill(Files& files, Handle file, std::span<std::uint8_t> buffer, std::uint64_t left, std::size_t& got) {
    buffer = buffer.first(static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), left)));
    got = 0;
    while (got < buffer.size()) {
        std::size_t part = 0;
        if (Error const error = files.read(file, buffer.subspan(got), part)) return error;
        if (part == 0) break;
        got += part;
    }
    return 0;
}

}  // namespace

namespace {

// Opens the original in `place` for reading: 0, or the step that refuses it with its error.
Outcome::Step open_original(Files& files, Place place, Handle& file, Opened& opened, Error& error) {
    using Step = Outcome::Step;
    if ((error = files.open(place.folder, place.name, false, file, opened)) != 0) {
        return files.busy(error) ? Step::busy : files.linked(error) ? Step::linked : Step::open;
    }
    if (opened.regular) return Step::done;
    files.close(file);
    return Step::not_regular;
}

// Whether the file read from `place`, open as `file` and opened as `opened`, is still the one
// version it was opened as: its lease unbroken; or, where no lease holds it, its name still
// giving that version. The name is asked, not only the open file: an editor saves by writing a
// new file and renaming it over the old one. Windows opens the original without sharing write
// or delete access, so that nothing can write, rename or replace it while it is read, and asks
// the open file alone.
bool unchanged(Files& files, Place place, Handle file, const Opened& opened) {
    if (opened.guarded) return files.guarded(file);
    Version now;
    return files.version(place.folder, place.name, file, now) == 0 && now == opened.version;
}

}  // namespace

Outcome write_converted(Files& files, Place original, Place temporary, std::span<std::uint8_t> buffer,
                        const std::atomic<bool>& stop, std::atomic<std::uint64_t>* read) {
    using Step = Outcome::Step;
    Handle in = no_handle, out = no_handle;
    Opened opened;
    Error error = 0;
    if (Step const refused = open_original(files, original, in, opened, error); refused != Step::done) {
        return {refused, error};
    }
    Version const& before = opened.version;

    // The first block before anything is made, so that a file too short to convert, or changed
    // already, leaves nothing.
    std::size_t got = 0;
    error = fill(files, in, buffer, before.size, got);
    Outcome outcome{Step::done};
    outcome.size = before.size;
    if (error != 0) outcome = {Step::read, error};
    else if (got < kept_bytes) outcome = {before.size < kept_bytes ? Step::too_short : Step::changed};
    else if (opened.guarded && !files.guarded(in)) outcome = {Step::changed};
    else if ((error = files.create(temporary.folder, temporary.name, opened.mode, out)) != 0) outcome = {Step::create, error};
    if (outcome.step != Step::done) {
        files.close(in);  // read only: nothing of it can be lost
        return outcome;
    }
    outcome.form = form_of(buffer.first(got));

    std::uint64_t offset = 0;
    while (got != 0) {
        if (read != nullptr) read->fetch_add(got, std::memory_order_relaxed);
        std::span<std::uint8_t> const block = buffer.first(got);
        convert_block(block, offset);
        if ((error = files.write(out, block)) != 0) {
            outcome.step = Step::write;
            outcome.error = error;
            break;
        }
        offset += got;
        if (offset == before.size || got < block.size()) break;  // the end, by its size or earlier
        if (stop.load(std::memory_order_relaxed)) {
            outcome.step = Step::stopped;
            break;
        }
        if ((error = fill(files, in, buffer, before.size - offset, got)) != 0) {
            outcome.step = Step::read;
            outcome.error = error;
            break;
        }
        // A lease broken by a program that opens the file to write is let go at once, so
        // that the program waits no longer than one block.
        if (opened.guarded && !files.guarded(in)) {
            outcome.step = Step::changed;
            break;
        }
    }
    // The file read is the version it was opened as only if nothing wrote it meanwhile and it
    // gave its size whole: a file cut short, grown, written over or replaced gives none.
    if (outcome.step == Step::done && (offset != before.size || (!opened.guarded && !unchanged(files, original, in, opened)))) {
        outcome.step = Step::changed;
    }
    files.close(in);  // and with it the lease
    if (outcome.step == Step::done && (error = files.flush(temporary.folder, out)) != 0) {
        outcome.step = Step::flush;
        outcome.error = error;
    }
    // The copy's time is its original's, set after its last flush, which some file systems
    // (FUSE) follow with a time of their own. A copy whose time cannot be set is still exact:
    // the next drop reads it once and keeps it.
    if (outcome.step == Step::done) files.set_time(out, before.written);
    if (outcome.step == Step::done && files.renames_open()) {
        outcome.written = out;
    } else if ((error = files.close(out)) != 0 && outcome.step == Step::done) {
        outcome.step = Step::close;
        outcome.error = error;
    }
    if (outcome.step != Step::done && (error = files.remove(temporary.folder, temporary.name)) != 0) {
        outcome.left = true;
        outcome.left_error = error;
    }
    return outcome;
}

Checked check_copy(Files& files, Place original, Place copy, std::span<std::uint8_t> buffer,
                   const std::atomic<bool>& stop) {
    using Step = Outcome::Step;
    Checked checked;
    Handle in = no_handle, kept = no_handle;
    Opened opened, copy_opened;
    if ((checked.step = open_original(files, original, in, opened, checked.error)) != Step::done) return checked;
    checked.original = opened.version;
    // A copy that another program writes, or that is no file, is its user's: it stays.
    if (Error const error = files.open(copy.folder, copy.name, true, kept, copy_opened)) {
        files.close(in);
        if (files.linked(error)) {
            checked.step = Step::linked;
            checked.copy_linked = true;
        }
        return checked;
    }
    std::uint64_t const size = opened.version.size, copy_size = copy_opened.version.size;
    std::size_t const half = buffer.size() / 2;
    std::span<std::uint8_t> const converted = buffer.first(half), held = buffer.subspan(half, half);
    bool same = copy_opened.regular && copy_size <= size;
    for (std::uint64_t offset = 0; same && offset < copy_size;) {
        std::size_t got = 0, got_copy = 0;
        if ((checked.error = fill(files, in, converted, size - offset, got)) != 0) {
            checked.step = Step::read;
            break;
        }
        if (opened.guarded && !files.guarded(in)) {
            checked.step = Step::changed;
            break;
        }
        std::size_t const length = static_cast<std::size_t>(std::min<std::uint64_t>(got, copy_size - offset));
        if (files.read(kept, held.first(length), got_copy) != 0 || got == 0) same = false;
        // The copy may come in shorter pieces: read until it has as many bytes as the original's block.
        while (same && got_copy < length) {
            std::size_t part = 0;
            if (files.read(kept, held.subspan(got_copy, length - got_copy), part) != 0 || part == 0) same = false;
            got_copy += part;
        }
        convert_block(converted.first(length), offset);
        same = same && std::equal(held.begin(), held.begin() + static_cast<std::ptrdiff_t>(length), converted.begin());
        offset += length;
        if (stop.load(std::memory_order_relaxed)) checked.step = Step::stopped;
        if (checked.step != Step::done) break;
        if (same && offset < copy_size && got < converted.size() && offset < size) same = false;  // the original ended early
    }
    if (checked.step == Step::done && !unchanged(files, original, in, opened)) checked.step = Step::changed;
    if (checked.step == Step::done && same && copy_opened.guarded && !files.guarded(kept)) same = false;
    files.close(in);
    if (checked.step == Step::done && same) {
        checked.match = copy_size == size ? Match::exact : Match::cut;
        if (checked.match == Match::exact) files.set_time(kept, opened.version.written);
    }
    files.close(kept);
    return checked;
}

void give_name(Files& files, Place temporary, Place target, bool replace, Outcome& outcome) {
    if (outcome.step == Outcome::Step::done) {
        if (Error const error =
                files.rename(temporary.folder, temporary.name, outcome.written, target.folder, target.name, replace)) {
            outcome.step = !replace && files.exists(error) ? Outcome::Step::taken : Outcome::Step::rename;
            outcome.error = error;
        }
    }
    // Its bytes are on the disk already: a close that fails now loses none of them.
    if (outcome.written != no_handle) files.close(outcome.written);
    outcome.written = no_handle;
    if (outcome.step == Outcome::Step::done) return;
    if (Error const error = files.remove(temporary.folder, temporary.name)) {
        outcome.left = true;
        outcome.left_error = error;
    }
}

}  // namespace drop

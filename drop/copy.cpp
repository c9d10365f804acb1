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

Outcome write_converted(Files& files, Place original, bool follow, Place temporary, std::span<std::uint8_t> buffer,
                        const std::atomic<bool>& stop) {
    using Step = Outcome::Step;
    Handle in = no_handle, out = no_handle;
    Version before, now;
    std::uint32_t mode = 0;
    bool regular = false;
    if (Error const error = files.open(original.folder, original.name, follow, in, before, mode, regular)) {
        return {Step::open, error};
    }
    Step const refused = follow && files.inside_copies(in) ? Step::inside_copies
                         : !regular                         ? Step::not_regular
                                                            : Step::done;
    if (refused != Step::done) {
        files.close(in);
        return {refused};
    }

    // The first block before anything is made, so that a file too short to convert leaves nothing.
    std::size_t got = 0;
    Error error = fill(files, in, buffer, before.size, got);
    Outcome outcome{Step::done};
    outcome.size = before.size;
    if (error != 0) outcome = {Step::read, error};
    else if (got < kept_bytes) outcome = {before.size < kept_bytes ? Step::too_short : Step::changed};
    else if ((error = files.create(temporary.folder, temporary.name, mode, out)) != 0) outcome = {Step::create, error};
    if (outcome.step != Step::done) {
        files.close(in);  // read only: nothing of it can be lost
        return outcome;
    }
    outcome.form = form_of(buffer.first(got));

    std::uint64_t offset = 0;
    while (got != 0) {
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
    }
    // The file read is the version it was opened as only if its name still gives that version,
    // whole: a file cut short, grown, written over or replaced under its name meanwhile gives none.
    // The name is asked, not only the open file: an editor saves by writing a new file and
    // renaming it over the old one, and a copy of the old bytes would then stand for the new
    // file, skipped as converted by every later drop where the sizes agree. Windows opens the
    // original without sharing write or delete access, so that nothing can write, rename or
    // replace it while it is read, and asks the open file alone.
    if (outcome.step == Step::done &&
        (offset != before.size || files.version(original.folder, original.name, follow, in, now) != 0 || now != before)) {
        outcome.step = Step::changed;
    }
    files.close(in);
    if (outcome.step == Step::done && (error = files.flush(temporary.folder, out)) != 0) {
        outcome.step = Step::flush;
        outcome.error = error;
    }
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

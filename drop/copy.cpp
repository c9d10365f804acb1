#include "copy.hpp"

namespace drop {

void convert_block(std::span<std::uint8_t> block, std::uint64_t offset) {
    std::size_t const first = offset >= kept_bytes ? 0 : static_cast<std::size_t>(kept_bytes - offset);
    for (std::size_t i = first; i < block.size(); ++i) block[i] = swap_halves(block[i]);
}

namespace {

// Fills `buffer` from `file` as far as the file goes: a read may return less than asked before
// the end.
Error fill(Files& files, Files::Handle file, std::span<std::uint8_t> buffer, std::size_t& got) {
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

Outcome copy_converted(Files& files, const Path& source, const Path& temporary, const Path& target,
                       std::span<std::uint8_t> buffer, const std::atomic<bool>& stop) {
    using Step = Outcome::Step;
    Files::Handle in = 0, out = 0;
    if (Error const error = files.open(source, in)) return {Step::open, error};
    Step const refused = files.inside_copies(in) ? Step::inside_copies
                         : !files.regular(in)     ? Step::not_regular
                                                  : Step::done;
    if (refused != Step::done) {
        files.close(in);
        return {refused};
    }

    // The first block before anything is made, so that a file too short to convert leaves nothing.
    Version before, now;
    std::size_t got = 0;
    Error error = files.version(in, before);
    if (error == 0) error = fill(files, in, buffer, got);
    Outcome outcome{Step::done};
    if (error != 0) outcome = {Step::read, error};
    else if (got < kept_bytes) outcome = {Step::too_short};
    else if ((error = files.create(temporary, out)) != 0) outcome = {Step::create, error};
    if (outcome.step != Step::done) {
        files.close(in);  // read only: nothing of it can be lost
        return outcome;
    }
    Form const form = form_of(buffer.first(got));

    std::uint64_t offset = 0;
    while (got != 0) {
        std::span<std::uint8_t> const block = buffer.first(got);
        convert_block(block, offset);
        if ((error = files.write(out, block)) != 0) {
            outcome = {Step::write, error};
            break;
        }
        offset += got;
        if (got < buffer.size()) break;  // the end of the file
        if (stop.load(std::memory_order_relaxed)) {
            outcome = {Step::stopped};
            break;
        }
        if ((error = fill(files, in, buffer, got)) != 0) {
            outcome = {Step::read, error};
            break;
        }
    }
    // Asked of the name, not of the open file, so that a file that another took the name of
    // meanwhile, or that is gone, counts as changed too.
    if (outcome.step == Step::done && (files.version(source, now) != 0 || now != before || offset != before.size)) {
        outcome = {Step::changed};
    }
    files.close(in);
    if ((error = files.close(out)) != 0 && outcome.step == Step::done) outcome = {Step::close, error};
    if (outcome.step == Step::done && (error = files.rename(temporary, target)) != 0) {
        outcome = {files.exists(error) ? Step::taken : Step::rename, error};
    }
    if (outcome.step != Step::done && (error = files.remove(temporary)) != 0) {
        outcome.left = true;
        outcome.left_error = error;
    }
    outcome.form = form;
    return outcome;
}

}  // namespace drop

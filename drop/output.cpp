// A drop's lines, held back and written in batches: one write for many lines, so that the screen
// keeps pace with thousands of copies on a console that is slow to write, as Windows' is. The
// text of each stream is kept in the order of its lines; a change of stream starts a new piece,
// so that both streams keep their order in one file or window.
#include "output.hpp"

#include <vector>

namespace drop {

namespace {

struct Piece {
    bool failure;
    Path lines;  // each line ended by '\n'
};
// Written by the one thread that writes lines.
std::vector<Piece> pending;
std::size_t pending_size = 0;

// Enough for a screenful and more, little enough that a long drop shows its lines as it goes.
constexpr std::size_t batch_limit = 1 << 16;

}  // namespace

void say(PathView line, bool failure) {
    if (pending.empty() || pending.back().failure != failure) pending.push_back({failure, {}});
    pending.back().lines.append(line).push_back(Path::value_type{'\n'});
    pending_size += line.size() + 1;
    if (pending_size >= batch_limit) flush_lines();
}

void flush_lines() {
    for (const Piece& piece : pending) write_lines(piece.lines, piece.failure);
    pending.clear();
    pending_size = 0;
}

}  // namespace drop

// A drop's lines, held back and written in batches: one write for many lines, so that the screen
// keeps pace with thousands of copies on a console that is slow to write, as Windows' is. The
// text of each stream is kept in the order of its lines; a change of stream starts a new piece,
// so that both streams keep their order in one file or window.
#include "output.hpp"

#include <vector>

#include "paths.hpp"

namespace drop {

namespace {

struct Piece {
    bool failure;
    Path lines;  // each line ended by '\n'
};
// Written by the one thread that writes lines.
std::vector<Piece> pending;
std::size_t pending_size = 0;
bool to_window = false;
Path progress;                 // the progress row, shown below the lines
std::size_t progress_width = 0;  // the columns it was drawn across, 0 when it is not shown

// Enough for a screenful and more, little enough that a long drop shows its lines as it goes.
constexpr std::size_t batch_limit = 1 << 16;

// The progress row drawn over the row it stands in, from its start, with spaces after it up to
// the window's last column but one, so that no console starts another row; or those spaces alone.
// No control sequence: a console and a terminal alike go back to the row's start at '\r'.
void draw(PathView row) {
    std::size_t const width = window_columns();
    std::size_t const used = columns(row);
    Path text(1, Path::value_type{'\r'});
    text.append(row);
    if (used + 1 < width) text.append(width - 1 - used, Path::value_type{' '});
    if (row.empty()) text.push_back(Path::value_type{'\r'});
    write_lines(text, false);
    progress_width = row.empty() ? 0 : width;
}

}  // namespace

void set_window(bool window) { to_window = window; }
bool window() { return to_window; }

void say(PathView line, bool failure, bool for_listing) {
    if (to_window && for_listing) return;
    if (pending.empty() || pending.back().failure != failure) pending.push_back({failure, {}});
    pending.back().lines.append(line).push_back(Path::value_type{'\n'});
    pending_size += line.size() + 1;
    if (pending_size >= batch_limit) flush_lines();
}

void flush_lines() {
    if (pending.empty()) return;
    if (progress_width != 0) draw({});  // the lines go where the row was, and the row below them
    for (const Piece& piece : pending) write_lines(piece.lines, piece.failure);
    pending.clear();
    pending_size = 0;
    if (!progress.empty()) draw(progress);
}

void show_progress(PathView row) {
    if (!to_window) return;
    progress = row;
    flush_lines();
    if (!row.empty() || progress_width != 0) draw(row);
}

}  // namespace drop

// A converted copy of one file: the original read once, block by block, each block converted in
// memory and written once to a new temporary file, which is closed and then given its final name
// without ever replacing a file. Portable: the file calls are those of `Files`, which each
// platform implements and which tests can make fail at any step.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace drop {

#ifdef _WIN32
using Path = std::wstring;       // extended UTF-16 paths (\\?\C:\...)
using Error = std::uint32_t;     // GetLastError()
#else
using Path = std::string;        // bytes, as the kernel takes them
using Error = int;               // errno
#endif
using PathView = std::basic_string_view<Path::value_type>;

constexpr std::uint64_t kept_bytes = 4;  // the leading bytes left as they are

// 0xAB -> 0xBA.
constexpr std::uint8_t swap_halves(std::uint8_t b) {
    return static_cast<std::uint8_t>((b & 0xF0U) >> 4 | (b & 0x0FU) << 4);
}
static_assert(swap_halves(0x12) == 0x21 && swap_halves(0xA5) == 0x5A && swap_halves(0x77) == 0x77);

// What the first bytes of a file say it is: a plain WAV file ("RIFF" at offset 0 and "WAVE" at
// 8), one in the converted form, whose "WAVE" has its halves exchanged, or anything else. Only
// these eight bytes are judged, never a header.
enum class Form { plain_wav, converted_wav, other };
constexpr Form form_of(std::span<const std::uint8_t> first) {
    constexpr std::uint8_t riff[] = {0x52, 0x49, 0x46, 0x46}, wave[] = {0x57, 0x41, 0x56, 0x45};
    if (first.size() < 12 || !std::equal(riff, riff + 4, first.begin())) return Form::other;
    auto const at_8 = first.subspan(8, 4);
    if (std::equal(wave, wave + 4, at_8.begin())) return Form::plain_wav;
    const auto swapped = [&](std::size_t i) { return swap_halves(wave[i]) == at_8[i]; };
    return swapped(0) && swapped(1) && swapped(2) && swapped(3) ? Form::converted_wav : Form::other;
}

// Converts `block`, which stands at `offset` in its file: every byte at or after kept_bytes.
void convert_block(std::span<std::uint8_t> block, std::uint64_t offset);

// What tells one version of a file from another: its size, when it was last written, and which
// file of which device it is.
struct Version {
    std::uint64_t size = 0;
    std::int64_t written = 0;
    std::uint64_t file = 0, device = 0;
    bool operator==(const Version&) const = default;
};

// The file calls of a conversion. Each returns 0 or the system's error. A handle is whatever the
// platform's is, held as an integer.
struct Files {
    using Handle = std::intptr_t;
    virtual ~Files() = default;
    virtual Error open(const Path& source, Handle& file) = 0;    // for reading, never blocking
    virtual Error create(const Path& copy, Handle& file) = 0;    // a new file; fails if it exists
    virtual Error read(Handle file, std::span<std::uint8_t> into, std::size_t& got) = 0;  // 0 at the end
    virtual Error write(Handle file, std::span<const std::uint8_t> bytes) = 0;  // all of them, or an error
    virtual Error close(Handle file) = 0;  // for a written file, the error of any write not yet made
    virtual Error version(Handle file, Version& version) = 0;       // of the open file
    virtual Error version(const Path& path, Version& version) = 0;  // of the file now at `path`
    virtual Error rename(const Path& from, const Path& to) = 0;  // never replaces `to`
    virtual Error remove(const Path& path) = 0;
    virtual bool exists(Error error) = 0;  // whether `error` says the name is taken
    // Whether the opened `file` is really in a folder of converted copies, reached through a link:
    // it is never converted again.
    virtual bool inside_copies(Handle file) = 0;
    // Whether the opened `file` is a regular file, not a FIFO or a device: only that is converted.
    virtual bool regular(Handle) { return true; }
};

// How a copy ended. `step` says which call failed, with `error` from it; for a failure after the
// temporary copy was made, `left` says that it could not be removed, with `left_error`. `form`
// is what the original's first bytes said it was, once they were read.
struct Outcome {
    enum class Step {
        done, open, inside_copies, not_regular, read, too_short, create, write, close, rename, taken, stopped, changed
    } step;
    Error error = 0;
    bool left = false;
    Error left_error = 0;
    Form form = Form::other;
};

// Writes the converted copy of `source` as `temporary` and renames it to `target`, using `buffer`
// for every block whatever the file's size. A file shorter than kept_bytes is refused before any
// copy is made, and so is a file that is really a converted copy or no regular file. A file that
// changed while it was read (another size, another time of writing, or another file or none
// under its name at the end), or that gave other than its size in bytes, ends as `changed`: its copy would
// be of no one version of it. On any failure, and when `stop` is set between two blocks, the
// temporary copy is removed: a file under the name `target` is always a whole converted copy of
// one version of its original. A `target` that exists already ends as `taken`, and nothing is
// replaced.
Outcome copy_converted(Files& files, const Path& source, const Path& temporary, const Path& target,
                       std::span<std::uint8_t> buffer, const std::atomic<bool>& stop);

}  // namespace drop

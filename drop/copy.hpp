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

// A file or folder that the drop holds open: a descriptor on Linux, a HANDLE on Windows.
using Handle = std::intptr_t;
constexpr Handle no_handle = -1;

// Which file or folder of which device it is: a folder found again under a name is the folder
// that the walk listed only if it is the same.
struct Identity {
    std::uint64_t device = 0, file = 0;
    bool operator==(const Identity&) const = default;
};

// A folder that the drop holds open while it works in it. Every file call names a file by its
// name in a held folder, never by a path walked again from outside it, so that no folder swapped
// for a link meanwhile can lead a call elsewhere; on Windows the folder is also held without
// sharing delete access, so that nobody can rename, remove or replace it until the drop lets go.
struct Folder {
    Handle handle = no_handle;
    Path path;  // where it is, for the lines and for what a platform can only ask of a path
    bool flush_each = false;  // its file system flushes files one by one, never all at once
    // On Windows, the serial number of its volume: asked once of a folder that may lead to
    // another volume, and the same below it, where no reparse point is ever entered.
    std::uint64_t volume = 0;
};

// What tells one version of a file from another: its size, when it was last written, and which
// file of which device it is.
struct Version {
    std::uint64_t size = 0;
    std::int64_t written = 0;
    std::uint64_t file = 0, device = 0;
    bool operator==(const Version&) const = default;
};

// What a name in a folder is, a link not followed: `size` for a file.
struct Found {
    enum class Kind { missing, file, folder, link, fifo, socket, device } kind = Kind::missing;
    std::uint64_t size = 0;
};

// The file calls of a conversion, each on a name in a held folder or on an open file. Each
// returns 0 or the system's error.
struct Files {
    virtual ~Files() = default;
    // The original `name` in `folder`, for reading, never blocking; a link is followed only where
    // `follow`. `version`, `mode` (its permission bits) and `regular` are those of the open file.
    virtual Error open(const Folder& folder, const Path& name, bool follow, Handle& file, Version& version,
                       std::uint32_t& mode, bool& regular) = 0;
    // A new file `name` in `folder`, with the permission bits `mode` less the umask; fails if
    // the name is taken.
    virtual Error create(const Folder& folder, const Path& name, std::uint32_t mode, Handle& file) = 0;
    virtual Error read(Handle file, std::span<std::uint8_t> into, std::size_t& got) = 0;  // 0 at the end
    virtual Error write(Handle file, std::span<const std::uint8_t> bytes) = 0;  // all of them, or an error
    // The bytes written to `file` on the disk, where the file system of `folder` flushes file by
    // file; flush_all then flushes what is written in `folder`'s file system where it flushes all
    // at once.
    virtual Error flush(const Folder& folder, Handle file) = 0;
    virtual Error flush_all(const Folder& folder) = 0;
    virtual Error close(Handle file) = 0;  // for a written file, the error of any write not yet made
    // The version of the file now under `name` in `folder`, which `file` was opened from: a file
    // replaced under its name meanwhile, as editors save, is another version.
    virtual Error version(const Folder& folder, const Path& name, bool follow, Handle file, Version& version) = 0;
    // `from` in `from_folder` takes the name `to` in `to_folder`, replacing a file there only
    // where `replace`; `file` is that file, open, where renames_open says so, or no_handle.
    virtual Error rename(const Folder& from_folder, const Path& from, Handle file, const Folder& to_folder,
                         const Path& to, bool replace) = 0;
    // Whether a written copy stays open until it has its name, and is renamed through its handle:
    // on Windows, where that saves opening it again; not where descriptors are few.
    virtual bool renames_open() { return false; }
    virtual Error remove(const Folder& folder, const Path& name) = 0;
    virtual bool exists(Error error) = 0;  // whether `error` says the name is taken
    // Whether the opened `file` is really in a folder of converted copies, reached through a link:
    // it is never converted again. Asked of a link, and on Windows, which cannot tell a link to a
    // file in every listing, of every file.
    virtual bool inside_copies(Handle file) = 0;
};

// How a copy ended. `step` says which call failed, with `error` from it; for a failure after the
// temporary copy was made, `left` says that it could not be removed, with `left_error`. `form`
// is what the original's first bytes said it was, once they were read, and `size` its size.
struct Outcome {
    enum class Step {
        done, open, inside_copies, not_regular, read, too_short, create, write, flush, close, rename, taken, stopped,
        changed
    } step;
    Error error = 0;
    bool left = false;
    Error left_error = 0;
    Form form = Form::other;
    std::uint64_t size = 0;
    Handle written = no_handle;  // the written copy, still open where renames_open says so
};

// A name in a held folder.
struct Place {
    const Folder& folder;
    const Path& name;
};

// Writes the converted copy of `original` (a link followed where `follow`) as the new file
// `temporary`, with the original's permission bits, using `buffer` for every block whatever the
// file's size, and flushes it where its file system flushes file by file; the copy is then
// `done`, its rename left to `give_name` once what flush_all flushes is on the disk. A file
// shorter than kept_bytes is refused before any copy is made, and so is a file that is really a
// converted copy or no regular file. A file that changed while it was read (another size, another
// time of writing, or another file or none under its name at the end), or that gave other than
// its size in bytes, ends as `changed`: its copy would be of no one version of it. On any failure,
// and when `stop` is set between two blocks, the temporary copy is removed.
Outcome write_converted(Files& files, Place original, bool follow, Place temporary, std::span<std::uint8_t> buffer,
                        const std::atomic<bool>& stop);

// Gives the written copy `temporary` its name `target`, replacing a file there only where
// `replace`: a file under the name `target` is always a whole converted copy of one version of
// its original, on the disk. A `target` that is taken ends as `taken`, and nothing is replaced;
// on any failure the temporary copy is removed.
void give_name(Files& files, Place temporary, Place target, bool replace, Outcome& outcome);

}  // namespace drop

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
constexpr std::int64_t ticks_per_second = 10000000;  // a file's times count 100 ns
constexpr std::int64_t unix_epoch = 116444736000000000;  // from 1601, in those ticks
#else
using Path = std::string;        // bytes, as the kernel takes them
using Error = int;               // errno
constexpr std::int64_t ticks_per_second = 1000000000;  // a file's times count nanoseconds
constexpr std::int64_t unix_epoch = 0;                  // from 1970
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
    // Its file system tells a file that another program has open for writing by refusing a
    // read lease on it; network and FUSE file systems refuse every lease.
    bool leases = false;
    // On Windows, where it really is, once asked: a file opened in it that really is elsewhere
    // was reached through a link that its listing does not show (a Unix link under Wine).
    Path real;
};

// What tells one version of a file from another: its size, when it was last written (in
// ticks_per_second), and which file of which device it is.
struct Version {
    std::uint64_t size = 0;
    std::int64_t written = 0;
    std::uint64_t file = 0, device = 0;
    bool operator==(const Version&) const = default;
};

// What a name in a folder is, a link not followed: `size` and `written` for a file, and whether
// it belongs to the user who runs the drop (on Windows, always).
struct Found {
    enum class Kind { missing, file, folder, link, fifo, socket, device } kind = Kind::missing;
    std::uint64_t size = 0;
    std::int64_t written = 0;
    bool mine = true;
};

// A file opened for reading: its version, its permission bits, whether it is a regular file, and
// whether a program that opens it to write from now on is seen (a read lease holds it): where
// not, only a change of its version tells.
struct Opened {
    Version version;
    std::uint32_t mode = 0;
    bool regular = false;
    bool guarded = false;
};

// The file calls of a conversion, each on a name in a held folder or on an open file. Each
// returns 0 or the system's error.
struct Files {
    virtual ~Files() = default;
    // The file `name` in `folder` for reading, never through a link and never blocking: an
    // original, or an existing `copy`, whose time may then be set. Where its file system allows,
    // under a read lease first, so that its version is asked once no program writes it.
    virtual Error open(const Folder& folder, const Path& name, bool copy, Handle& file, Opened& opened) = 0;
    // Whether `error` from open says that another program has the file open to write; and
    // whether `error` from open or version says that the name is a link, which the drop follows
    // by hand or not at all.
    virtual bool busy(Error error) = 0;
    virtual bool linked(Error error) = 0;
    // Whether the lease that `file` was opened under still holds: no program has opened the file
    // to write since. Where it has, the lease is let go, so that the program can go on.
    virtual bool guarded(Handle file) = 0;
    // A new file `name` in `folder`, with the permission bits `mode` less the umask; fails if
    // the name is taken.
    virtual Error create(const Folder& folder, const Path& name, std::uint32_t mode, Handle& file) = 0;
    virtual Error read(Handle file, std::span<std::uint8_t> into, std::size_t& got) = 0;  // 0 at the end
    virtual Error write(Handle file, std::span<const std::uint8_t> bytes) = 0;  // all of them, or an error
    // The time of writing of `file`, in ticks_per_second.
    virtual Error set_time(Handle file, std::int64_t written) = 0;
    // The bytes written to `file` on the disk, where the file system of `folder` flushes file by
    // file; flush_all then flushes what is written in `folder`'s file system where it flushes all
    // at once.
    virtual Error flush(const Folder& folder, Handle file) = 0;
    virtual Error flush_all(const Folder& folder) = 0;
    virtual Error close(Handle file) = 0;  // for a written file, the error of any write not yet made
    // The version of the file now under `name` in `folder`, which `file` was opened from: a file
    // replaced under its name meanwhile, as editors save, is another version.
    virtual Error version(const Folder& folder, const Path& name, Handle file, Version& version) = 0;
    // `from` in `from_folder` takes the name `to` in `to_folder`, replacing a file there only
    // where `replace`; `file` is that file, open, where renames_open says so, or no_handle.
    virtual Error rename(const Folder& from_folder, const Path& from, Handle file, const Folder& to_folder,
                         const Path& to, bool replace) = 0;
    // Whether a written copy stays open until it has its name, and is renamed through its handle:
    // on Windows, where that saves opening it again; not where descriptors are few.
    virtual bool renames_open() { return false; }
    virtual Error remove(const Folder& folder, const Path& name) = 0;
    virtual bool exists(Error error) = 0;  // whether `error` says the name is taken
};

// How a copy ended. `step` says which call failed, with `error` from it; for a failure after the
// temporary copy was made, `left` says that it could not be removed, with `left_error`. `form`
// is what the original's first bytes said it was, once they were read, and `size` its size.
struct Outcome {
    enum class Step {
        done, open, busy, not_regular, linked, read, too_short, create, write, flush, close, rename, taken, stopped,
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

// Writes the converted copy of `original` as the new file `temporary`, with the original's
// permission bits and time of writing, using `buffer` for every block whatever the file's size,
// and flushes it where its file system flushes file by file; the copy is then `done`, its rename
// left to `give_name` once what flush_all flushes is on the disk. A file shorter than kept_bytes
// is refused before any copy is made, and so is no regular file, and a file that another program
// has open to write (`busy`), or that turns out to be a link (`linked`). A file that changed while it was read (its lease broken by a
// program that opened it to write; where no lease holds it, another size, another time of
// writing, or another file or none under its name at the end), or that gave other than its size
// in bytes, ends as `changed`: its copy would be of no one version of it. On any failure, and
// when `stop` is set between two blocks, the temporary copy is removed. The bytes read are added
// to `read` as they come, where it is given, for a progress to show.
Outcome write_converted(Files& files, Place original, Place temporary, std::span<std::uint8_t> buffer,
                        const std::atomic<bool>& stop, std::atomic<std::uint64_t>* read = nullptr);

// Gives the written copy `temporary` its name `target`, replacing a file there only where
// `replace`: a file under the name `target` is always a whole converted copy of one version of
// its original, on the disk. A `target` that is taken ends as `taken`, and nothing is replaced;
// on any failure the temporary copy is removed.
void give_name(Files& files, Place temporary, Place target, bool replace, Outcome& outcome);

// How a copy that is there stands to its original, by their sizes and times of writing, the
// times taken as the same within `window` ticks (a file system that keeps coarser times rounds
// the time a copy is given): the same version (`same`); an original written since its copy was
// made (`older`), whose copy is made again; or else a copy written since its original was, or of
// another size, which only its bytes can tell from a copy that its user changed (`unsure`).
enum class Standing { same, older, unsure };
constexpr Standing standing(const Version& original, std::uint64_t copy_size, std::int64_t copy_written,
                            std::int64_t window) {
    if (original.written - copy_written > window) return Standing::older;
    if (copy_written - original.written > window || copy_size != original.size) return Standing::unsure;
    return Standing::same;
}

// The window of times within which a file system's times are the same, from the time it kept
// when it was asked to keep `asked`: none where it kept it exactly; 2 seconds, FAT's steps,
// where it kept a coarser one.
constexpr std::int64_t time_window(std::int64_t asked, std::int64_t kept) {
    return asked == kept ? 0 : 2 * ticks_per_second;
}

// What a copy that is there holds, against the conversion of its original: exactly it, its
// start only (a copy that a power cut or a full disk cut short), or anything else (a copy that
// its user changed).
enum class Match { exact, cut, other };
struct Checked {
    Outcome::Step step = Outcome::Step::done;  // done, or the step whose failure ended the check
    Error error = 0;
    Match match = Match::other;
    Version original;  // as it was read
    bool copy_linked = false;
};

// Reads `original` and `copy` once, each under the same guards as a conversion, and says how the
// copy matches, using `buffer` for both whatever their sizes. An exact copy takes its original's
// time of writing, so that the next drop finds it the same version without a read. A copy that
// turns out to be a link ends the check at `linked`, with `copy_linked` set.
Checked check_copy(Files& files, Place original, Place copy, std::span<std::uint8_t> buffer,
                   const std::atomic<bool>& stop);

}  // namespace drop

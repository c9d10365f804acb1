// The drop program's decisions that need no system call: which names it takes, where a copy
// goes, the long-path form of a path, what a temporary copy is called, and how a system text
// names its subject. Portable, so that they are tested on every platform. Each function that
// takes paths comes twice: for Windows paths, UTF-16 with backslashes and the roots "C:\",
// "\\server\share\" and "\\?\"; and for POSIX paths, bytes with slashes and the root "/".
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace drop {

// The separator of the components of a path: '\\' in a Windows path, '/' in a POSIX one.
template <class Char>
inline constexpr Char separator = Char{'/'};
template <>
inline constexpr wchar_t separator<wchar_t> = L'\\';

// Letter case as file names ignore it, for the ASCII words compared here ("converted", ".wav"):
// no other character folds to one of their letters.
bool same_ignoring_case(std::wstring_view a, std::wstring_view b);
bool same_ignoring_case(std::string_view a, std::string_view b);

// How two UTF-8 names order, letter case aside: below, at or above 0. Letters fold by Unicode's
// simple case folding, in every script (case_folding.hpp, which case_folding.py generates from
// Unicode's data). The up-case tables of exFAT and NTFS fold a part of its pairs: those of the
// Unicode version they were made with, in 16-bit code points; vfat folds fewer. That is the side
// to err on: a pair folded here that a mount keeps apart, such as the Kelvin sign and k, is only
// converted after the other files and still gets two copies, since whether a name is taken is
// asked of the mount; a pair that the mount folds and this comparison missed would cost a
// conversion, the second file skipped as converted already with no copy of its own. Dotted I and
// i, dotless i and I, which Unicode folds for Turkish only and no such table folds, stay apart. A
// byte that starts no character stands for itself, after every character.
int compare_ignoring_case(std::string_view a, std::string_view b);

// A name that ends in .wav in any letter case; ".wav" itself is one.
bool is_wav(std::wstring_view name);
bool is_wav(std::string_view name);

// A folder of converted copies: named "converted" in any letter case.
bool is_converted_folder(std::wstring_view name);
bool is_converted_folder(std::string_view name);

// Whether any folder of `path` is named "converted", the last component included when
// `last_too`: a path into the copies, which are never converted again.
bool inside_converted(std::wstring_view path, bool last_too);
bool inside_converted(std::string_view path, bool last_too);

// The last component of `path`, after its last separator.
std::wstring_view last_component(std::wstring_view path);
std::string_view last_component(std::string_view path);

// `path` without its last component and the separator before it; a root keeps its separator
// ("C:\", "\\?\C:\", "/").
std::wstring_view parent(std::wstring_view path);
std::string_view parent(std::string_view path);

// `folder` and `name` joined by one separator; none is added after a root's.
std::wstring join(std::wstring_view folder, std::wstring_view name);
std::string join(std::string_view folder, std::string_view name);

// Whether `path` is `folder` or a path below it: both full, as the system names them.
bool below_or_at(std::wstring_view path, std::wstring_view folder);
bool below_or_at(std::string_view path, std::string_view folder);

// The form of a full path that every wide file call takes whatever its length, and in which a
// name such as aux.wav is an ordinary name: "\\?\C:\...", or "\\?\UNC\server\share\..." for a
// network path. A path in that form, or a device path (\\.\), stays as it is.
std::wstring extended(std::wstring_view full);

// The path as a user writes it: an extended path without its prefix.
std::wstring shown(std::wstring_view path);

// The temporary copy number `number` of the drop with process id `process`, "quoxel-P-N.tmp", in
// a folder of converted copies, in the characters of a Windows path or, as temporary_name<char>,
// of a POSIX one; and the process id in such a name. An owner is found only in a name that a drop
// writes, each number in decimal without a leading zero and neither of them 0, so that a user's
// file named like one, quoxel-007-1.tmp, is never taken for a drop's.
template <class Char = wchar_t>
std::basic_string<Char> temporary_name(std::uint32_t process, std::uint64_t number);
std::optional<std::uint32_t> temporary_owner(std::wstring_view name);
std::optional<std::uint32_t> temporary_owner(std::string_view name);

// The file that a running drop keeps open in each folder of converted copies it uses, so that
// another drop can tell its temporary copies from those left by a drop that ended; and the
// process id in such a name, under the same rule as in a temporary copy's.
template <class Char = wchar_t>
std::basic_string<Char> lock_name(std::uint32_t process);
std::optional<std::uint32_t> lock_owner(std::wstring_view name);
std::optional<std::uint32_t> lock_owner(std::string_view name);

// `text` with each insert %1 to %9 replaced by `subject`, and %% by %: a system message for a
// program or a file that names it instead of showing "%1".
std::wstring filled(std::wstring_view text, std::wstring_view subject);

// The columns that `text` takes on a terminal or a console: 2 for each character of the wide
// scripts and of emoji, 1 for any other character, or byte that is no part of one; a little
// more than some terminals take, never less, so that a line said to fit does.
std::size_t columns(std::wstring_view text);
std::size_t columns(std::string_view text);

// `text` in at most `width` columns (at least 2): whole where it fits, else its start and its end
// with "…" between, cut between characters, the end given twice the room of the start so
// that a path keeps its file's name.
std::wstring elided(std::wstring_view text, std::size_t width);
std::string elided(std::string_view text, std::size_t width);

}  // namespace drop

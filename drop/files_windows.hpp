// What only Windows asks of its file system, beside the calls of system.hpp.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "copy.hpp"

namespace drop {

// Opens `name` in the held `folder`, relative to its handle (NtCreateFile with the folder as the
// root of the name): 0, or the system's error.
Error open_in(const Folder& folder, std::wstring_view name, ACCESS_MASK access, ULONG share, ULONG disposition,
              ULONG options, HANDLE& opened);

// The serial number of the volume of the open `file`; 0 when the system cannot say.
std::uint64_t volume_of(HANDLE file);

// Where the open `file` really is: links followed, every name long and in the letter case it
// has on disk, in the extended form. Empty when the system cannot say.
std::wstring final_path(HANDLE file);

// Whether a listing's entry of `attributes` and reparse `tag` stands for another name: a symbolic
// link or a junction, or a reparse point with no tag, which is how Wine lists a Unix link.
// Other reparse points (compressed and deduplicated files, cloud placeholders) are ordinary.
constexpr bool stands_for_name(DWORD attributes, DWORD tag) {
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && (tag == 0 || IsReparseTagNameSurrogate(tag));
}

}  // namespace drop

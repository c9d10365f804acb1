// Fuzz target: what drop/paths.cpp decides about a user's names, for POSIX paths (bytes) or, built
// with FUZZ_WINDOWS, for Windows paths (UTF-16 code units, unpaired surrogates and all): which
// names are taken, where a copy goes, the components of a path, the long-path forms, the names of
// temporary copies and locks and their owners, a name elided to fit a row, and the filling of a
// system text. The input is names cut at each NUL: a path or a name, another name, and a path
// below a folder.
#include <algorithm>

#include "fuzz.hpp"
#include "paths.hpp"

using namespace drop;

namespace {

#ifdef FUZZ_WINDOWS
using Char = wchar_t;
#else
using Char = char;
#endif
using View = std::basic_string_view<Char>;
using String = std::basic_string<Char>;
constexpr Char slash = separator<Char>;
String const wav = fuzz::widened<Char>(".wav"), converted = fuzz::widened<Char>("converted");

// The names of `path` between its separators, those a listing never gives left out: none empty,
// none "." or "..", and none with a colon, which names a drive or a stream on Windows.
std::vector<String> listed_names(View path) {
    std::vector<String> names;
    String name;
    for (std::size_t i = 0; i <= path.size(); ++i) {
        if (i < path.size() && path[i] != Char{'/'} && path[i] != Char{'\\'}) {
            name += path[i];
            continue;
        }
        if (!name.empty() && name != fuzz::widened<Char>(".") && name != fuzz::widened<Char>("..") &&
            name.find(Char{':'}) == String::npos)
            names.push_back(name);
        name.clear();
    }
    return names;
}

// A name ending in .wav and a folder named converted, each in any ASCII letter case: no other
// character folds to one of their letters.
void check_names_taken(View name, View other) {
    holds(is_wav(name) ==
          (name.size() >= wav.size() && fuzz::same_ascii_folded(name.substr(name.size() - wav.size()), View(wav))));
    holds(is_converted_folder(name) == fuzz::same_ascii_folded(name, View(converted)));
    holds(same_ignoring_case(name, other) == fuzz::same_ascii_folded(name, other));
    // Inside converted only where a folder is named so; on POSIX, where the root is "/" alone,
    // exactly there. (On Windows a name may also follow a drive's colon, as in "C:converted".)
    std::vector<View> components;
    String const breaks = slash == Char{'/'} ? fuzz::widened<Char>("/") : fuzz::widened<Char>("\\:");
    for (std::size_t start = 0, end = 0; end != View::npos; start = end + 1) {
        end = name.find_first_of(breaks, start);
        components.push_back(name.substr(start, end == View::npos ? View::npos : end - start));
    }
    for (bool const last_too : {false, true}) {
        bool named = false;
        for (std::size_t i = 0; i < components.size(); ++i) {
            bool const folder = last_too || i + 1 < components.size();
            named = named || (folder && fuzz::same_ascii_folded(components[i], View(converted)));
        }
        bool const inside = inside_converted(name, last_too);
        holds(!inside || named);
        if constexpr (slash == Char{'/'}) holds(inside == named);
    }
    holds(!inside_converted(name, false) || inside_converted(name, true));
}

// A path's last component and its parent give the path again, and a parent is shorter than its
// path but at a root, so that a walk up the folders ends. (On Windows, "C:x", a name in the
// current folder of a drive, has no separator after its root "C:".)
void check_components(View path) {
    View const last = last_component(path), up = parent(path);
    holds(last.find(slash) == View::npos && path.ends_with(last) && path.starts_with(up));
    holds(path == String(up) + slash + String(last) || path == join(up, last) || (up == path && last.empty()) ||
          (up.ends_with(Char{':'}) && path == String(up) + String(last)));
    if (up == path) holds(last.empty());
    else holds(up.size() < path.size());
}

// A copy's path never leaves its folder of copies: the names of its path below `folder`, as a
// listing gives them, lead back up to the folder "converted" in `folder`.
void check_copy_inside(const String& folder, const std::vector<String>& relative) {
    String const copies = join(folder, converted);
    String copy = copies;
    for (const String& name : relative) copy = join(copy, name);
    holds(parent(View(copies)) == folder && last_component(View(copies)) == converted);
    holds(relative.empty() || inside_converted(View(copy), false));
    View up = copy;
    for (std::size_t i = relative.size(); i-- > 0;) {
        holds(last_component(up) == relative[i]);
        up = parent(up);
    }
    holds(up == copies);
}

// The owner of exactly the names that a drop writes, and of no look-alike of a user's.
void check_owners(View name, std::uint32_t process, std::uint64_t number) {
    holds(temporary_owner(name) == fuzz::drop_owner(name, true));
    holds(lock_owner(name) == fuzz::drop_owner(name, false));
    std::optional<std::uint32_t> const written = process != 0 ? std::optional(process) : std::nullopt;
    holds(temporary_owner(View(temporary_name<Char>(process, number))) == (number != 0 ? written : std::nullopt));
    holds(lock_owner(View(lock_name<Char>(process))) == written);
}

#ifdef FUZZ_WINDOWS
// The inserts of a system text as filled() promises them, written apart from it: %1 to %9, with
// a format such as !s! after the number, become `subject`; %% becomes %; anything else stays.
std::wstring inserted(std::wstring_view text, std::wstring_view subject) {
    std::wstring out;
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t const percent = text.find(L'%', i);
        out.append(text.substr(i, percent - i));
        if (percent == std::wstring_view::npos) break;
        wchar_t const next = percent + 1 < text.size() ? text[percent + 1] : L'\0';
        i = percent + 2;
        if (next == L'%') {
            out += L'%';
        } else if (next >= L'1' && next <= L'9') {
            out += subject;
            if (i < text.size() && text[i] == L'!' && text.find(L'!', i + 1) != std::wstring_view::npos) {
                i = text.find(L'!', i + 1) + 1;
            }
        } else {
            out += L'%';
            i = percent + 1;
        }
    }
    return out;
}

// The extended form is that of every full path, idempotent, and shows as the path given.
void check_long_forms(std::wstring_view path) {
    bool const full = path.starts_with(L"\\\\") || (path.size() >= 3 && path[1] == L':' && path[2] == L'\\');
    std::wstring const given = full ? std::wstring(path) : L"C:\\" + std::wstring(path);
    std::wstring const long_form = extended(given);
    holds(long_form.starts_with(L"\\\\?\\") || long_form.starts_with(L"\\\\.\\"));
    holds(extended(long_form) == long_form);
    if (!given.starts_with(L"\\\\?\\")) holds(shown(long_form) == given);
    if (!path.starts_with(L"\\\\?\\")) holds(shown(path) == path);
}
#endif

// Where each character of `text` starts: well-formed UTF-8 or UTF-16 read as such, any other
// byte or unit alone.
std::vector<std::size_t> character_starts(View text) {
    std::vector<std::size_t> starts;
    for (std::size_t at = 0; at < text.size();) {
        starts.push_back(at);
        std::size_t length = 1;
#ifdef FUZZ_WINDOWS
        auto const unit = [&](std::size_t i) { return static_cast<char32_t>(text[i]) & 0xFFFFU; };
        if (unit(at) >= 0xD800 && unit(at) < 0xDC00 && at + 1 < text.size() && unit(at + 1) >= 0xDC00 &&
            unit(at + 1) < 0xE000)
            length = 2;
#else
        if (std::optional<fuzz::Character> const c = fuzz::first_character(text.substr(at))) length = c->length;
#endif
        at += length;
    }
    return starts;
}

// A text shown in `width` columns: whole where it fits; else a start and an end of it, each cut
// between characters, with the ellipsis between them, in at most `width` columns, the columns of
// a character being 1 or 2.
void check_elided(View text, std::size_t width) {
    String const shown = elided(text, width);
    std::size_t const columns_of_text = columns(text);
    std::vector<std::size_t> const starts = character_starts(text);
    holds(columns_of_text >= starts.size() && columns_of_text <= 2 * starts.size());
    if (columns_of_text <= width) return holds(shown == String(text));
    holds(columns(View(shown)) <= width);
#ifdef FUZZ_WINDOWS
    String const ellipsis(1, static_cast<Char>(0x2026));
#else
    String const ellipsis = "\xE2\x80\xA6";
#endif
    bool split = false;
    for (std::size_t start = 0; !split && start + ellipsis.size() <= shown.size(); ++start) {
        std::size_t const end = shown.size() - start - ellipsis.size();
        split = start + end < text.size() && View(shown).substr(0, start) == text.substr(0, start) &&
                View(shown).substr(start, ellipsis.size()) == View(ellipsis) &&
                View(shown).substr(start + ellipsis.size()) == text.substr(text.size() - end) &&
                std::binary_search(starts.begin(), starts.end(), start) &&
                (end == 0 || std::binary_search(starts.begin(), starts.end(), text.size() - end));
    }
    holds(split);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
#ifdef FUZZ_WINDOWS
    std::vector<String> const parts = fuzz::wide_names(data, size);
#else
    std::vector<View> const parts = fuzz::names(data, size);
#endif
    View const name = parts[0], other = parts.size() > 1 ? View(parts[1]) : View(), below = parts.back();
    check_names_taken(name, other);
    check_components(name);
    check_components(other);

    // The folder of copies of a folder on a drive, on a network share or below the root "/".
    String folder;
    if constexpr (slash == Char{'/'}) folder = fuzz::widened<Char>("/");
    else folder = fuzz::widened<Char>(size % 2 == 0 ? "\\\\?\\C:\\" : "\\\\?\\UNC\\nas\\share\\");
    for (const String& listed : listed_names(name)) folder = join(folder, listed);
    check_copy_inside(folder, listed_names(below));

    std::uint32_t process = 0;
    std::uint64_t number = 0;
    for (std::size_t i = 0; i < size && i < 12; ++i) {
        if (i < 4) process = process << 8 | data[i];
        else number = number << 8 | data[i];
    }
    check_owners(name, process, number);
    check_elided(name, 2 + size % 80);
#ifdef FUZZ_WINDOWS
    check_long_forms(name);
    holds(filled(name, other) == inserted(name, other));
#endif
    return 0;
}

#include "paths.hpp"

#include <algorithm>
#include <iterator>
#include <utility>
#include <vector>

#include "case_folding.hpp"

namespace drop {

namespace {

constexpr std::wstring_view extended_prefix = L"\\\\?\\";
constexpr std::wstring_view unc_prefix = L"\\\\?\\UNC\\";

template <class Char>
Char lower(Char c) {
    return c >= Char{'A'} && c <= Char{'Z'} ? static_cast<Char>(c - Char{'A'} + Char{'a'}) : c;
}

template <class Char>
bool same_ignoring_case_in(std::basic_string_view<Char> a, std::basic_string_view<Char> b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

bool starts_with_ignoring_case(std::wstring_view text, std::wstring_view start) {
    return text.size() >= start.size() && same_ignoring_case(text.substr(0, start.size()), start);
}

// The length of the root of `path`, its separator included: "C:\", "\\?\C:\",
// "\\server\share\" or "\\?\UNC\server\share\"; 0 for a relative path.
std::size_t root_length(std::wstring_view path) {
    std::wstring_view rest = path;
    std::size_t prefix = 0;
    bool unc = false;
    if (starts_with_ignoring_case(path, unc_prefix)) {
        prefix = unc_prefix.size();
        unc = true;
    } else if (path.starts_with(extended_prefix) || path.starts_with(L"\\\\.\\")) {
        prefix = extended_prefix.size();
    } else if (path.starts_with(L"\\\\")) {
        prefix = 2;
        unc = true;
    }
    rest.remove_prefix(prefix);
    if (unc) {  // server, then share
        std::size_t const server_end = rest.find(L'\\');
        if (server_end == std::wstring_view::npos) return path.size();
        std::size_t const share_end = rest.find(L'\\', server_end + 1);
        return share_end == std::wstring_view::npos ? path.size() : prefix + share_end + 1;
    }
    if (rest.size() >= 2 && rest[1] == L':') return prefix + (rest.size() >= 3 && rest[2] == L'\\' ? 3 : 2);
    return prefix;
}

// "/" for an absolute POSIX path.
std::size_t root_length(std::string_view path) { return path.starts_with('/') ? 1 : 0; }

// Whether `text` is the lower-case ASCII `word`, in any letter case when `fold`; or whether it
// starts or ends with it.
template <class Char>
bool is_word(std::basic_string_view<Char> text, std::string_view word, bool fold = true) {
    if (text.size() != word.size()) return false;
    for (std::size_t i = 0; i < word.size(); ++i) {
        if ((fold ? lower(text[i]) : text[i]) != static_cast<Char>(word[i])) return false;
    }
    return true;
}
template <class Char>
bool starts_with_word(std::basic_string_view<Char> text, std::string_view word, bool fold = true) {
    return text.size() >= word.size() && is_word(text.substr(0, word.size()), word, fold);
}
template <class Char>
bool ends_with_word(std::basic_string_view<Char> text, std::string_view word, bool fold = true) {
    return text.size() >= word.size() && is_word(text.substr(text.size() - word.size()), word, fold);
}

template <class Char>
bool is_wav_in(std::basic_string_view<Char> name) {
    return ends_with_word(name, ".wav");
}

template <class Char>
bool is_converted_folder_in(std::basic_string_view<Char> name) {
    return is_word(name, "converted");
}

template <class Char>
bool inside_converted_in(std::basic_string_view<Char> path, bool last_too) {
    path.remove_prefix(root_length(path));
    while (!path.empty()) {
        std::size_t const end = path.find(separator<Char>);
        bool const last = end == std::basic_string_view<Char>::npos;
        if ((last_too || !last) && is_converted_folder_in(path.substr(0, end))) return true;
        path.remove_prefix(last ? path.size() : end + 1);
    }
    return false;
}

template <class Char>
std::basic_string_view<Char> last_component_in(std::basic_string_view<Char> path) {
    std::size_t const root = root_length(path);
    std::size_t const slash = path.find_last_of(separator<Char>);
    return path.substr(slash == std::basic_string_view<Char>::npos || slash < root ? root : slash + 1);
}

template <class Char>
std::basic_string_view<Char> parent_in(std::basic_string_view<Char> path) {
    std::size_t const root = root_length(path);
    std::size_t const slash = path.find_last_of(separator<Char>);
    if (slash == std::basic_string_view<Char>::npos || slash < root) return path.substr(0, root);
    return path.substr(0, slash);
}

template <class Char>
bool below_or_at_in(std::basic_string_view<Char> path, std::basic_string_view<Char> folder) {
    if (!path.starts_with(folder)) return false;
    return path.size() == folder.size() || folder.ends_with(separator<Char>) || path[folder.size()] == separator<Char>;
}

template <class Char>
std::basic_string<Char> join_in(std::basic_string_view<Char> folder, std::basic_string_view<Char> name) {
    std::basic_string<Char> path(folder);
    if (!path.empty() && !path.ends_with(separator<Char>)) path += separator<Char>;
    return path += name;
}

// The number that `digits` spells as a drop writes it: in decimal, without a leading zero, from 1
// to `most`; nothing else. A drop never writes 0: no process of a drop has the id 0, and its
// temporary copies are numbered from 1.
template <class Char>
std::optional<std::uint64_t> written_number(std::basic_string_view<Char> digits, std::uint64_t most) {
    if (digits.empty() || digits[0] == Char{'0'}) return std::nullopt;
    std::uint64_t value = 0;
    for (Char const c : digits) {
        if (c < Char{'0'} || c > Char{'9'}) return std::nullopt;
        auto const digit = static_cast<std::uint64_t>(c - Char{'0'});
        if (value > (most - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

// The process id in "quoxel-ID-NUMBER" + `end`, or, without `numbered`, "quoxel-ID" + `end`, each
// number as a drop writes it; nothing else, so that no file of a user's is taken for a drop's.
template <class Char>
std::optional<std::uint32_t> owner_in(std::basic_string_view<Char> name, std::string_view end, bool numbered) {
    constexpr std::string_view start = "quoxel-";
    if (name.size() < start.size() + end.size() || !starts_with_word(name, start, false) ||
        !ends_with_word(name, end, false))
        return std::nullopt;
    name = name.substr(start.size(), name.size() - start.size() - end.size());
    std::size_t const dash = numbered ? name.find(Char{'-'}) : name.size();
    if (dash == std::basic_string_view<Char>::npos) return std::nullopt;
    if (numbered && !written_number(name.substr(dash + 1), UINT64_MAX)) return std::nullopt;
    std::optional<std::uint64_t> const process = written_number(name.substr(0, dash), UINT32_MAX);
    if (!process) return std::nullopt;
    return static_cast<std::uint32_t>(*process);
}

// `text`, ASCII, in the characters of a path.
template <class Char>
std::basic_string<Char> widened(std::string_view text) {
    return std::basic_string<Char>(text.begin(), text.end());
}

// The code point at the start of `bytes`, and its length in `length`; a byte that starts no
// well-formed character is 0x110000 and above, after every code point, with a length of 1.
char32_t next_character(std::string_view bytes, std::size_t& length) {
    auto const byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    unsigned const first = byte(0);
    length = first < 0x80 ? 1 : first < 0xC2 ? 0 : first < 0xE0 ? 2 : first < 0xF0 ? 3 : first < 0xF5 ? 4 : 0;
    char32_t point = length == 1 ? first : length == 2 ? first & 0x1FU : length == 3 ? first & 0x0FU : first & 0x07U;
    for (std::size_t i = 1; i < length; ++i) {
        if (i >= bytes.size() || (byte(i) & 0xC0U) != 0x80) length = 0;
        else point = point << 6 | (byte(i) & 0x3FU);
    }
    bool const overlong = (length == 3 && point < 0x800) || (length == 4 && point < 0x10000);
    if (length == 0 || overlong || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) {
        length = 1;
        return 0x110000 + first;
    }
    return point;
}

// `c` as Unicode's simple case folding folds it; ASCII at once, as most names are.
char32_t folded(char32_t c) {
    if (c < 0x80) return c >= U'A' && c <= U'Z' ? c + 0x20 : c;
    auto const after = std::upper_bound(std::begin(fold_runs), std::end(fold_runs), c,
                                        [](char32_t point, const FoldRun& run) { return point < run.first; });
    if (after == std::begin(fold_runs)) return c;
    const FoldRun& run = *std::prev(after);
    if (c > run.last || (c - run.first) % run.step != 0) return c;
    // Both fit: a code point is below 0x110000, and so is what it folds to.
    return static_cast<char32_t>(static_cast<std::int32_t>(c) + run.delta);
}

}  // namespace

bool same_ignoring_case(std::wstring_view a, std::wstring_view b) { return same_ignoring_case_in(a, b); }
bool same_ignoring_case(std::string_view a, std::string_view b) { return same_ignoring_case_in(a, b); }
bool is_wav(std::wstring_view name) { return is_wav_in(name); }
bool is_wav(std::string_view name) { return is_wav_in(name); }
bool is_converted_folder(std::wstring_view name) { return is_converted_folder_in(name); }
bool is_converted_folder(std::string_view name) { return is_converted_folder_in(name); }
bool inside_converted(std::wstring_view path, bool last_too) { return inside_converted_in(path, last_too); }
bool inside_converted(std::string_view path, bool last_too) { return inside_converted_in(path, last_too); }
std::wstring_view last_component(std::wstring_view path) { return last_component_in(path); }
std::string_view last_component(std::string_view path) { return last_component_in(path); }
std::wstring_view parent(std::wstring_view path) { return parent_in(path); }
std::string_view parent(std::string_view path) { return parent_in(path); }
bool below_or_at(std::wstring_view path, std::wstring_view folder) { return below_or_at_in(path, folder); }
bool below_or_at(std::string_view path, std::string_view folder) { return below_or_at_in(path, folder); }
std::wstring join(std::wstring_view folder, std::wstring_view name) { return join_in(folder, name); }
std::string join(std::string_view folder, std::string_view name) { return join_in(folder, name); }

int compare_ignoring_case(std::string_view a, std::string_view b) {
    while (!a.empty() && !b.empty()) {
        std::size_t a_length = 0, b_length = 0;
        char32_t const x = folded(next_character(a, a_length)), y = folded(next_character(b, b_length));
        if (x != y) return x < y ? -1 : 1;
        a.remove_prefix(a_length);
        b.remove_prefix(b_length);
    }
    return a.empty() && b.empty() ? 0 : a.empty() ? -1 : 1;
}

std::optional<std::uint32_t> temporary_owner(std::wstring_view name) { return owner_in(name, ".tmp", true); }
std::optional<std::uint32_t> temporary_owner(std::string_view name) { return owner_in(name, ".tmp", true); }
std::optional<std::uint32_t> lock_owner(std::wstring_view name) { return owner_in(name, ".lock", false); }
std::optional<std::uint32_t> lock_owner(std::string_view name) { return owner_in(name, ".lock", false); }

template <class Char>
std::basic_string<Char> temporary_name(std::uint32_t process, std::uint64_t number) {
    return widened<Char>("quoxel-" + std::to_string(process) + "-" + std::to_string(number) + ".tmp");
}
template std::wstring temporary_name<wchar_t>(std::uint32_t, std::uint64_t);
template std::string temporary_name<char>(std::uint32_t, std::uint64_t);

template <class Char>
std::basic_string<Char> lock_name(std::uint32_t process) {
    return widened<Char>("quoxel-" + std::to_string(process) + ".lock");
}
template std::wstring lock_name<wchar_t>(std::uint32_t);
template std::string lock_name<char>(std::uint32_t);

std::wstring extended(std::wstring_view full) {
    if (full.starts_with(extended_prefix) || full.starts_with(L"\\\\.\\")) return std::wstring(full);
    if (full.starts_with(L"\\\\")) return std::wstring(unc_prefix).append(full.substr(2));
    return std::wstring(extended_prefix).append(full);
}

std::wstring shown(std::wstring_view path) {
    if (starts_with_ignoring_case(path, unc_prefix))
        return std::wstring(L"\\\\").append(path.substr(unc_prefix.size()));
    if (path.starts_with(extended_prefix)) return std::wstring(path.substr(extended_prefix.size()));
    return std::wstring(path);
}

std::wstring filled(std::wstring_view text, std::wstring_view subject) {
    std::wstring out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != L'%' || i + 1 == text.size()) {
            out += text[i];
        } else if (text[i + 1] == L'%') {
            out += L'%';
            ++i;
        } else if (text[i + 1] >= L'1' && text[i + 1] <= L'9') {
            out += subject;
            ++i;
            // A format after the number, as in %1!s!, goes with it.
            if (i + 1 < text.size() && text[i + 1] == L'!') {
                std::size_t const close = text.find(L'!', i + 2);
                if (close != std::wstring_view::npos) i = close;
            }
        } else {
            out += text[i];
        }
    }
    return out;
}

namespace {

// Whether the code point `c` takes two columns: the wide and fullwidth characters of East Asian
// scripts, and the pictographs and emoji, in whole blocks (the side to err on).
bool wide(char32_t c) {
    struct Range {
        char32_t first, last;
    };
    constexpr Range ranges[] = {{0x1100, 0x115F},   {0x231A, 0x231B},   {0x2329, 0x232A},   {0x23E9, 0x23FF},
                                {0x2600, 0x27BF},   {0x2B00, 0x2BFF},   {0x2E80, 0x303E},   {0x3041, 0xA4CF},
                                {0xA960, 0xA97F},   {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},   {0xFE10, 0xFE19},
                                {0xFE30, 0xFE6F},   {0xFF00, 0xFF60},   {0xFFE0, 0xFFE6},   {0x16FE0, 0x18CFF},
                                {0x1AFF0, 0x1B2FF}, {0x1F000, 0x1FAFF}, {0x20000, 0x3FFFD}};
    return std::any_of(std::begin(ranges), std::end(ranges),
                       [&](const Range& range) { return c >= range.first && c <= range.last; });
}

// The code point at the start of UTF-16 `units`, and its length in units: an unpaired surrogate
// stands alone.
char32_t next_character(std::wstring_view units, std::size_t& length) {
    char32_t const first = static_cast<char32_t>(units[0]) & 0xFFFFU;
    if (first >= 0xD800 && first < 0xDC00 && units.size() > 1) {
        char32_t const second = static_cast<char32_t>(units[1]) & 0xFFFFU;
        if (second >= 0xDC00 && second < 0xE000) {
            length = 2;
            return 0x10000 + ((first - 0xD800) << 10) + (second - 0xDC00);
        }
    }
    length = 1;
    return first;
}

// The columns of the character at the start of `text`, and its length.
template <class Char>
std::size_t next_columns(std::basic_string_view<Char> text, std::size_t& length) {
    return wide(next_character(text, length)) ? 2 : 1;
}

// The characters of `text` that fit in `width` columns, from its start, or from its end where
// `from_end`; and the columns they take.
template <class Char>
std::basic_string_view<Char> fitting(std::basic_string_view<Char> text, std::size_t width, bool from_end,
                                     std::size_t& taken) {
    std::vector<std::pair<std::size_t, std::size_t>> characters;  // offset and columns of each, read from the start
    for (std::size_t at = 0, length = 0; at < text.size(); at += length) {
        characters.emplace_back(at, next_columns(text.substr(at), length));
    }
    taken = 0;
    if (!from_end) {
        for (const auto& [at, each] : characters) {
            if (taken + each > width) return text.substr(0, at);
            taken += each;
        }
        return text;
    }
    std::size_t start = text.size();
    for (auto it = characters.rbegin(); it != characters.rend() && taken + it->second <= width; ++it) {
        taken += it->second;
        start = it->first;
    }
    return text.substr(start);
}

template <class Char>
std::size_t columns_in(std::basic_string_view<Char> text) {
    std::size_t total = 0;
    for (std::size_t at = 0, length = 0; at < text.size(); at += length) total += next_columns(text.substr(at), length);
    return total;
}

template <class Char>
std::basic_string<Char> elided_in(std::basic_string_view<Char> text, std::size_t width) {
    if (columns_in(text) <= width) return std::basic_string<Char>(text);
    std::size_t const room = width - 1;  // beside the "…"
    std::size_t end_taken = 0, start_taken = 0;
    std::basic_string_view<Char> const end = fitting(text, room - room / 3, true, end_taken);
    std::basic_string_view<Char> const start = fitting(text, room - end_taken, false, start_taken);
    std::basic_string<Char> shown(start);
    if constexpr (sizeof(Char) == 1) shown += "\xE2\x80\xA6";
    else shown += static_cast<Char>(0x2026);
    return shown.append(end);
}

}  // namespace

std::size_t columns(std::wstring_view text) { return columns_in(text); }
std::size_t columns(std::string_view text) { return columns_in(text); }
std::wstring elided(std::wstring_view text, std::size_t width) { return elided_in(text, width); }
std::string elided(std::string_view text, std::size_t width) { return elided_in(text, width); }

}  // namespace drop

// What the fuzz targets share: a check that stops the run with the property that failed, the
// input cut into names, and the few facts that several targets check in the same way, each
// written here independently of the code it checks.
#pragma once

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Stops the run when `property` is false, naming it: libFuzzer then keeps the input that broke it.
#define holds(property) ((property) ? void() : ::fuzz::broken(#property, __FILE__, __LINE__))

namespace fuzz {

[[noreturn]] inline void broken(const char* property, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: does not hold: %s\n", file, line, property);
    std::abort();
}

// The input's bytes as names of a POSIX path: bytes, cut at each NUL, which no name holds.
inline std::vector<std::string_view> names(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string_view> parts;
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    for (;;) {
        std::size_t const end = rest.find('\0');
        parts.push_back(rest.substr(0, end));
        if (end == std::string_view::npos) return parts;
        rest.remove_prefix(end + 1);
    }
}

// The input's bytes as the UTF-16 code units of Windows names, little-endian, unpaired surrogates
// and all, cut at each unit 0; an odd last byte is left out.
inline std::vector<std::wstring> wide_names(const std::uint8_t* data, std::size_t size) {
    std::vector<std::wstring> parts(1);
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        auto const unit = static_cast<wchar_t>(data[i] | data[i + 1] << 8);
        if (unit == 0) parts.emplace_back();
        else parts.back() += unit;
    }
    return parts;
}

// The character at the start of `text` as well-formed UTF-8 has it (Unicode's table 3-7), and
// its length in bytes; nothing when `text` starts with no such character.
struct Character {
    char32_t point;
    std::size_t length;
};
inline std::optional<Character> first_character(std::string_view text) {
    auto const byte = [&](std::size_t i) { return i < text.size() ? static_cast<std::uint8_t>(text[i]) : 0U; };
    unsigned const first = byte(0);
    std::size_t const length = text.empty()                   ? 0
                               : first < 0x80                  ? 1
                               : first >= 0xC2 && first <= 0xDF ? 2
                               : first >= 0xE0 && first <= 0xEF ? 3
                               : first >= 0xF0 && first <= 0xF4 ? 4
                                                                : 0;
    // The second byte's range, narrower after E0, ED, F0 and F4; every later one is 80 to BF.
    unsigned const low = first == 0xE0 ? 0xA0 : first == 0xF0 ? 0x90 : 0x80;
    unsigned const high = first == 0xED ? 0x9F : first == 0xF4 ? 0x8F : 0xBF;
    if (length == 0 || (length > 1 && (byte(1) < low || byte(1) > high))) return std::nullopt;
    char32_t point = length == 1 ? first : first & (0xFFU >> (length + 1));
    for (std::size_t i = 1; i < length; ++i) {
        if (i >= 2 && (byte(i) < 0x80 || byte(i) > 0xBF)) return std::nullopt;
        point = point << 6 | (byte(i) & 0x3FU);
    }
    return Character{point, length};
}

// `c` with an ASCII capital made small, and nothing else changed.
template <class Char>
constexpr Char ascii_small(Char c) {
    return c >= Char{'A'} && c <= Char{'Z'} ? static_cast<Char>(c + ('a' - 'A')) : c;
}

// Whether `a` and `b` are the same when ASCII letters are folded.
template <class Char>
bool same_ascii_folded(std::basic_string_view<Char> a, std::basic_string_view<Char> b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (ascii_small(a[i]) != ascii_small(b[i])) return false;
    }
    return true;
}

// `text`, of ASCII, in the characters of `Char`.
template <class Char>
std::basic_string<Char> widened(std::string_view text) {
    return std::basic_string<Char>(text.begin(), text.end());
}

// The number that `digits` spells, when it spells one exactly as std::to_string writes it and
// within `most`.
inline std::optional<std::uint64_t> canonical_number(std::string_view digits, std::uint64_t most) {
    std::uint64_t value = 0;
    auto const [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc{} || end != digits.data() + digits.size() || value > most) return std::nullopt;
    if (std::to_string(value) != digits) return std::nullopt;  // a leading zero or a sign
    return value;
}

// The owner of a drop's temporary copy, "quoxel-ID-NUMBER.tmp", or, without `numbered`, of its
// lock, "quoxel-ID.lock": as a drop writes them, with a process id from 1 to 2^32 - 1 and a copy
// number from 1 to 2^64 - 1 (a drop never writes 0: no process of its has the id 0, and it
// numbers its copies from 1). Names of any width; a character beyond ASCII is never a drop's.
template <class Char>
std::optional<std::uint32_t> drop_owner(std::basic_string_view<Char> name, bool numbered) {
    std::string narrow;
    for (Char const c : name) {
        if (static_cast<std::uint32_t>(c) > 0x7F) return std::nullopt;
        narrow += static_cast<char>(c);
    }
    std::string_view const start = "quoxel-", end = numbered ? ".tmp" : ".lock";
    std::string_view middle = narrow;
    if (!middle.starts_with(start) || !middle.ends_with(end) || middle.size() < start.size() + end.size())
        return std::nullopt;
    middle = middle.substr(start.size(), middle.size() - start.size() - end.size());
    std::size_t const dash = numbered ? middle.find('-') : middle.size();
    if (dash == std::string_view::npos) return std::nullopt;
    std::optional<std::uint64_t> const id = canonical_number(middle.substr(0, dash), UINT32_MAX);
    if (!id || *id == 0) return std::nullopt;
    if (numbered) {
        std::optional<std::uint64_t> const number = canonical_number(middle.substr(dash + 1), UINT64_MAX);
        if (!number || *number == 0) return std::nullopt;
    }
    return static_cast<std::uint32_t>(*id);
}

}  // namespace fuzz

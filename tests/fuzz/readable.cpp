// Fuzz target: a POSIX name as a line shows it (readable() of drop/output_posix.cpp), for any
// bytes. What is shown is UTF-8 without a control character, a name that is such already and has
// no backslash is shown as it is, and the \xNN and \\ escapes give the name back exactly.
#include "fuzz.hpp"
#include "output.hpp"

namespace {

// Whether `text` is well-formed UTF-8 (Unicode's table 3-7) with no C0 or C1 control and no DEL.
bool plain_utf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        auto const byte = [&](std::size_t k) { return i + k < text.size() ? static_cast<std::uint8_t>(text[i + k]) : 0U; };
        unsigned const first = byte(0);
        if (first < 0x20 || first == 0x7F) return false;
        std::size_t const length = first < 0x80 ? 1 : first >= 0xC2 && first <= 0xDF ? 2 : first >= 0xE0 && first <= 0xEF ? 3
                                   : first >= 0xF0 && first <= 0xF4                 ? 4
                                                                                    : 0;
        unsigned const low = first == 0xE0 ? 0xA0 : first == 0xF0 ? 0x90 : first == 0xC2 ? 0xA0 : 0x80;  // C2 80-9F: C1
        unsigned const high = first == 0xED ? 0x9F : first == 0xF4 ? 0x8F : 0xBF;
        if (length == 0 || (length > 1 && (byte(1) < low || byte(1) > high))) return false;
        for (std::size_t k = 2; k < length; ++k) {
            if (byte(k) < 0x80 || byte(k) > 0xBF) return false;
        }
        i += length;
    }
    return true;
}

// The name that `shown` shows: each \xNN its byte, each \\ one backslash; nothing, when `shown`
// holds another escape or a backslash alone.
std::optional<std::string> unescaped(std::string_view shown) {
    std::string name;
    const auto digit = [](char c) { return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1; };
    for (std::size_t i = 0; i < shown.size(); ++i) {
        if (shown[i] != '\\') {
            name += shown[i];
        } else if (i + 1 < shown.size() && shown[i + 1] == '\\') {
            name += '\\';
            ++i;
        } else if (i + 3 < shown.size() && shown[i + 1] == 'x' && digit(shown[i + 2]) >= 0 && digit(shown[i + 3]) >= 0) {
            name += static_cast<char>(digit(shown[i + 2]) * 16 + digit(shown[i + 3]));
            i += 3;
        } else {
            return std::nullopt;
        }
    }
    return name;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view const name(reinterpret_cast<const char*>(data), size);
    std::string const shown = drop::readable(name);
    holds(plain_utf8(shown));
    holds(unescaped(shown) == std::string(name));
    if (plain_utf8(name) && name.find('\\') == std::string_view::npos) holds(shown == name);
    return 0;
}

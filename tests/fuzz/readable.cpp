// Fuzz target: a POSIX name as a line shows it (readable() of drop/output_posix.cpp), for any
// bytes. What is shown is UTF-8 without a control character, a name that is such already and has
// no backslash is shown as it is, and the \xNN and \\ escapes give the name back exactly.
#include "fuzz.hpp"
#include "output.hpp"

namespace {

// Whether `text` is well-formed UTF-8 with no C0 or C1 control and no DEL.
bool plain_utf8(std::string_view text) {
    while (!text.empty()) {
        std::optional<fuzz::Character> const character = fuzz::first_character(text);
        char32_t const point = character ? character->point : 0;
        if (!character || point < 0x20 || (point >= 0x7F && point < 0xA0)) return false;
        text.remove_prefix(character->length);
    }
    return true;
}

// The name that `shown` shows: each \xNN its byte, each \\ one backslash; nothing, when `shown`
// holds another escape or a backslash alone.
std::optional<std::string> unescaped(std::string_view shown) {
    std::string name;
    const auto digit = [](char c) { return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : 99; };
    for (std::size_t i = 0; i < shown.size(); ++i) {
        if (shown[i] != '\\') {
            name += shown[i];
        } else if (i + 1 < shown.size() && shown[i + 1] == '\\') {
            name += '\\';
            ++i;
        } else if (i + 3 < shown.size() && shown[i + 1] == 'x' && digit(shown[i + 2]) < 16 &&
                   digit(shown[i + 3]) < 16) {
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

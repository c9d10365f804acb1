// Fuzz target: what a file's first bytes say it is (form_of of drop/copy.hpp), and the conversion
// of a block (convert_block of drop/copy.cpp), for any bytes. Only "RIFF" at 0 and "WAVE" at 8,
// plain or with the halves of each byte exchanged, count; a conversion exchanges the halves of
// every byte from the file's offset 4 on, undoes itself, and turns one form into the other.
#include <algorithm>

#include "copy.hpp"
#include "fuzz.hpp"

using drop::Form;

namespace {

std::uint8_t exchanged(std::uint8_t b) { return static_cast<std::uint8_t>(b * 16 + b / 16); }

// What `first` is, judged apart from form_of.
Form judged(const std::vector<std::uint8_t>& first) {
    auto const at = [&](std::size_t offset, const char* letters, bool swapped) {
        for (std::size_t i = 0; i < 4; ++i) {
            auto const letter = static_cast<std::uint8_t>(letters[i]);
            if (first[offset + i] != (swapped ? exchanged(letter) : letter)) return false;
        }
        return true;
    };
    if (first.size() < 12 || !at(0, "RIFF", false)) return Form::other;
    return at(8, "WAVE", false) ? Form::plain_wav : at(8, "WAVE", true) ? Form::converted_wav : Form::other;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    std::uint64_t const offset = data[0] % 8;  // where the block stands in its file
    std::vector<std::uint8_t> const block(data + 1, data + size);
    Form const form = drop::form_of(block);
    holds(form == judged(block));

    std::vector<std::uint8_t> converted = block;
    drop::convert_block(converted, offset);
    for (std::size_t i = 0; i < block.size(); ++i) {
        holds(converted[i] == (offset + i >= drop::kept_bytes ? exchanged(block[i]) : block[i]));
    }
    if (offset == 0) {
        Form const other = form == Form::plain_wav       ? Form::converted_wav
                           : form == Form::converted_wav ? Form::plain_wav
                                                         : form;
        holds(drop::form_of(converted) == other);
    }
    drop::convert_block(converted, offset);
    holds(converted == block);
    return 0;
}

// Fuzz target: the POSIX comparison of names letter case aside (drop/paths.cpp), on three names cut
// at each NUL of the input. It is a total order, consistent with itself, in which two names are
// equal exactly when they fold alike: each character by the generated table, read here apart
// from the comparison's own reading, and each byte that starts no character as itself.
#include "case_folding.hpp"
#include "fuzz.hpp"
#include "paths.hpp"

using namespace drop;

namespace {

// The characters of `name`, each folded by a plain search of the table; a byte that starts no
// well-formed character is 0x110000 plus the byte, after every character.
std::vector<char32_t> folded(std::string_view name) {
    std::vector<char32_t> points;
    while (!name.empty()) {
        std::optional<fuzz::Character> const character = fuzz::first_character(name);
        if (!character) {
            points.push_back(0x110000 + static_cast<std::uint8_t>(name[0]));
            name.remove_prefix(1);
            continue;
        }
        char32_t point = character->point;
        for (const FoldRun& run : fold_runs) {
            if (point >= run.first && point <= run.last && (point - run.first) % run.step == 0) {
                point = static_cast<char32_t>(static_cast<std::int32_t>(point) + run.delta);
                break;
            }
        }
        points.push_back(point);
        name.remove_prefix(character->length);
    }
    return points;
}

int sign(int order) { return order < 0 ? -1 : order > 0 ? 1 : 0; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string_view> names = fuzz::names(data, size);
    names.resize(3);
    std::vector<char32_t> folds[3];
    for (std::size_t i = 0; i < 3; ++i) {
        folds[i] = folded(names[i]);
        holds(compare_ignoring_case(names[i], names[i]) == 0);
    }
    int order[3][3];
    for (std::size_t i = 0; i < 3; ++i) {
        for (std::size_t j = 0; j < 3; ++j) {
            order[i][j] = sign(compare_ignoring_case(names[i], names[j]));
            holds(order[i][j] == (folds[i] < folds[j] ? -1 : folds[j] < folds[i] ? 1 : 0));
        }
    }
    for (std::size_t i = 0; i < 3; ++i) {
        for (std::size_t j = 0; j < 3; ++j) {
            holds(order[i][j] == -order[j][i]);
            for (std::size_t k = 0; k < 3; ++k) {
                if (order[i][j] <= 0 && order[j][k] <= 0) holds(order[i][k] <= 0);
                if (order[i][j] < 0 && order[j][k] <= 0) holds(order[i][k] < 0);
            }
        }
    }
    return 0;
}

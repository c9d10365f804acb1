#include "progress.hpp"

#include <cstdio>
#include <vector>

#include "paths.hpp"

namespace drop {

namespace {

// The fewest columns that a folder at work is shown in: fewer would say nothing of it.
constexpr std::size_t least_folder = 12;

// "0:42", "1:02:03".
std::string duration_words(double seconds) {
    auto const total = static_cast<unsigned long long>(seconds + 0.5);
    unsigned long long const hours = total / 3600, minutes = total / 60 % 60, rest = total % 60;
    char words[48];
    if (hours != 0) std::snprintf(words, sizeof words, "%llu:%02llu:%02llu", hours, minutes, rest);
    else std::snprintf(words, sizeof words, "%llu:%02llu", minutes, rest);
    return words;
}

}  // namespace

std::string size_words(std::uint64_t bytes) {
    if (bytes < 1000) return std::to_string(bytes) + " B";
    static constexpr const char* units[] = {"kB", "MB", "GB", "TB", "PB", "EB"};
    double value = static_cast<double>(bytes) / 1000;
    std::size_t unit = 0;
    while (value >= 999.5 && unit + 1 < std::size(units)) {
        value /= 1000;
        ++unit;
    }
    // Three digits at most: 1.23, 12.3, 123.
    char text[32];
    int const decimals = value < 9.995 ? 2 : value < 99.95 ? 1 : 0;
    std::snprintf(text, sizeof text, "%.*f %s", decimals, value, units[unit]);
    return text;
}

Row progress_row(const Progress& progress, std::size_t width) {
    std::size_t const room = width > 0 ? width - 1 : 0;
    // Counted as the first line and the counts at the end count them.
    std::vector<std::string> parts{std::to_string(progress.done) + "/" + std::to_string(progress.total) + " files"};
    if (progress.total != 0) {
        auto const share = static_cast<std::size_t>(100 * static_cast<double>(progress.done) / static_cast<double>(progress.total));
        parts.push_back(std::to_string(share) + "%");
    }
    parts.push_back(size_words(progress.bytes));
    // Speed and time left once there is something to tell them by.
    if (progress.seconds >= 0.5) {
        double const speed = static_cast<double>(progress.bytes) / progress.seconds;  // at most twice the bytes
        parts.push_back(size_words(speed >= 1.8e19 ? UINT64_MAX : static_cast<std::uint64_t>(speed)) + "/s");
    }
    // A time left of days says nothing that the share does not.
    if (progress.done != 0 && progress.done < progress.total && progress.seconds >= 0.5) {
        double const left = progress.seconds / static_cast<double>(progress.done) * static_cast<double>(progress.total - progress.done);
        if (left < 100 * 3600) parts.push_back(duration_words(left) + " left");
    }
    Row row;
    // The least important first to go: the time left, the speed, the bytes, the share.
    for (;;) {
        row.words.clear();
        for (const std::string& part : parts) row.words += (row.words.empty() ? "" : "  ") + part;
        std::size_t const used = columns(std::string_view(row.words));
        if (used <= room) {
            row.folder = room >= used + 2 + least_folder ? room - used - 2 : 0;
            return row;
        }
        if (parts.size() == 1) break;
        parts.pop_back();
    }
    row.words = room >= 2 ? elided(std::string_view(row.words), room) : std::string();
    row.folder = 0;
    return row;
}

}  // namespace drop

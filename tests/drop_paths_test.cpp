// Tests of the drop program's decisions that need no system call: the extended form of a path,
// the "converted" rule, where a copy goes, the names of temporary copies, system texts, and which
// jobs a drop keeps. They build and run on every platform.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <locale.h>
#include <wctype.h>
#endif

#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "copy.hpp"
#include "menu.hpp"
#include "paths.hpp"
#include "progress.hpp"
#include "pool.hpp"
#include "summary.hpp"
#include "walk.hpp"

using namespace drop;

namespace {

TEST(DropPaths, ExtendedFormAndBack) {
    struct Case {
        const wchar_t* full;
        const wchar_t* extended;
    };
    for (const Case c :
         {Case{L"C:\\Music\\a.wav", L"\\\\?\\C:\\Music\\a.wav"}, Case{L"C:\\", L"\\\\?\\C:\\"},
          Case{L"\\\\nas\\share\\a.wav", L"\\\\?\\UNC\\nas\\share\\a.wav"},
          Case{L"\\\\?\\C:\\aux.wav", L"\\\\?\\C:\\aux.wav"},
          Case{L"\\\\?\\UNC\\nas\\share\\x", L"\\\\?\\UNC\\nas\\share\\x"}, Case{L"\\\\.\\C:\\x", L"\\\\.\\C:\\x"}}) {
        EXPECT_EQ(extended(c.full), c.extended);
        if (std::wstring_view(c.full).starts_with(L"\\\\?\\")) continue;
        EXPECT_EQ(shown(c.extended), c.full);  // the lines name what the user gave
    }
}

TEST(DropPaths, ComponentsStopAtTheRoot) {
    struct Case {
        const wchar_t* path;
        const wchar_t* parent;
        const wchar_t* last;
    };
    for (const Case c : {Case{L"C:\\a\\b.wav", L"C:\\a", L"b.wav"}, Case{L"C:\\b.wav", L"C:\\", L"b.wav"},
                         Case{L"\\\\?\\C:\\b.wav", L"\\\\?\\C:\\", L"b.wav"}, Case{L"\\\\?\\C:\\", L"\\\\?\\C:\\", L""},
                         Case{L"\\\\?\\UNC\\nas\\share\\b.wav", L"\\\\?\\UNC\\nas\\share\\", L"b.wav"},
                         Case{L"\\\\nas\\share\\d\\b.wav", L"\\\\nas\\share\\d", L"b.wav"}}) {
        EXPECT_EQ(parent(c.path), c.parent) << c.path;
        EXPECT_EQ(last_component(c.path), c.last) << c.path;
    }
    EXPECT_EQ(join(L"\\\\?\\C:\\", L"converted"), L"\\\\?\\C:\\converted");  // no backslash doubled after a root
    EXPECT_EQ(join(L"\\\\?\\C:\\F", L"converted"), L"\\\\?\\C:\\F\\converted");
    EXPECT_EQ(join(L"", L"x.wav"), L"x.wav");  // a file at the top of the tree
}

TEST(DropPaths, WavNamesAndTheConvertedRule) {
    for (const wchar_t* name : {L"a.wav", L"UPPER.WAV", L"b.Wav", L".wav"}) EXPECT_TRUE(is_wav(name)) << name;
    for (const wchar_t* name : {L"song.wave", L"wav", L"a.wav.txt", L"awav"}) EXPECT_FALSE(is_wav(name)) << name;

    struct Case {
        const wchar_t* path;
        bool last_too;
        bool inside;
    };
    for (const Case c :
         {Case{L"\\\\?\\C:\\F\\converted\\a.wav", false, true},
          Case{L"\\\\?\\C:\\F\\CONVERTED\\sub\\deeper\\a.wav", false, true},
          Case{L"\\\\?\\C:\\F\\Converted", true, true},    // the folder itself, dropped
          Case{L"\\\\?\\C:\\F\\converted", false, false},  // a file named so
          Case{L"\\\\?\\C:\\F\\conv\\a.wav", false, false}, Case{L"\\\\?\\C:\\F\\converted.wav", false, false},
          Case{L"\\\\?\\C:\\F\\sub\\converteds\\a.wav", false, false},
          Case{L"\\\\?\\UNC\\converted\\share\\a.wav", false, false},  // a server, not a folder
          Case{L"C:\\converted\\a.wav", false, true}}) {
        EXPECT_EQ(inside_converted(c.path, c.last_too), c.inside) << c.path;
    }
    EXPECT_TRUE(inside_converted(std::string_view("/m/CONVERTED/sub/a.wav"), false));
    EXPECT_TRUE(is_converted_folder(std::string_view("Converted")));
    EXPECT_FALSE(inside_converted(std::string_view("/m/converted"), false));  // a file named so
    EXPECT_FALSE(inside_converted(std::string_view("/m/a\\converted\\x.wav"), false));  // one name
    EXPECT_TRUE(is_wav(std::string_view("UPPER.WAV")));
    EXPECT_FALSE(is_wav(std::string_view("song.wave")));
}

// ASCII `text` as a Windows path's characters.
std::wstring wide(std::string_view text) { return std::wstring(text.begin(), text.end()); }

TEST(DropPaths, TemporaryCopiesAreToldByTheirName) {
    EXPECT_EQ(temporary_name(4321, 17), L"quoxel-4321-17.tmp");
    EXPECT_EQ(temporary_owner(temporary_name(4294967295U, UINT64_MAX)), 4294967295U);
    EXPECT_EQ(temporary_owner(temporary_name<char>(1, 1)), 1U);
    EXPECT_EQ(lock_name(4321), L"quoxel-4321.lock");
    EXPECT_EQ(temporary_owner(temporary_name<char>(4321, 17)), 4321U);
    EXPECT_EQ(lock_owner(lock_name<char>(4294967295U)), 4294967295U);
    // A user's files named like a drop's: each number as no drop writes it, or none at all.
    for (const char* name : {"quoxel-4321-1.lock", "quoxel-.lock", "quoxel-1x.lock", "Quoxel-1.lock", "quoxel-1.tmp",
                             "quoxel-00.lock", "quoxel-0.lock", "quoxel-007.lock", "quoxel-4294967296.lock"}) {
        EXPECT_FALSE(lock_owner(std::string_view(name))) << name;
        EXPECT_FALSE(lock_owner(wide(name))) << name;
    }
    for (const char* name : {"quoxel-4321.tmp", "quoxel--1.tmp", "quoxel-12-.tmp", "quoxel-1x-2.tmp",
                             "quoxel-1-2.tmp.wav", "quoxel-4294967296-1.tmp", "my quoxel-1-2.tmp", "quoxel-12-x.tmp",
                             "quoxel-12-3x.tmp",
                             "quoxel-4000000000-old.tmp", "quoxel-007-1.tmp", "quoxel-12-0001.tmp", "quoxel-0-1.tmp",
                             "quoxel-12-0.tmp", "quoxel-1-18446744073709551616.tmp", "quoxel-1-2-3.tmp"}) {
        EXPECT_FALSE(temporary_owner(std::string_view(name))) << name;  // a user's file is never taken for a leftover
        EXPECT_FALSE(temporary_owner(wide(name))) << name;
    }
}

TEST(DropPaths, TextsForUsers) {
    EXPECT_EQ(filled(L"Bad EXE format for %1.", L"quoxel.exe"), L"Bad EXE format for quoxel.exe.");
    EXPECT_EQ(filled(L"%1!s! is not a valid Win32 application. 100%% sure", L"q.exe"),
              L"q.exe is not a valid Win32 application. 100% sure");
    EXPECT_EQ(filled(L"%1: x", L"D:\\"), L"D:\\: x");       // a character above 9 after the number
    EXPECT_EQ(filled(L"Cannot open %1", L"a.wav"), L"Cannot open a.wav");  // the number ends the text
    EXPECT_EQ(filled(L"50%", L"a.wav"), L"50%");

    struct Case {
        Counts counts;
        const char* summary;
    };
    for (const Case& c : {
             Case{{3, 1, 0, 0, 0, false}, "3 converted, 1 skipped, 0 failed."},
             Case{{3, 0, 2, 5, 0, true}, "3 converted, 0 skipped, 2 failed, 5 not done (stopped)."},
             Case{{2000, 0, 0, 0, 0, true}, "2000 converted, 0 skipped, 0 failed, 0 not done (stopped)."},
             Case{{3, 0, 0, 0, 1, false}, "3 converted, 0 skipped, 0 failed. 1 copy was made of a plain WAV file, so it "
                                          "is nibble-swapped."},
             Case{{3, 0, 0, 0, 2, false}, "3 converted, 0 skipped, 0 failed. 2 copies were made of plain WAV files, so "
                                          "they are nibble-swapped."},
         }) {
        EXPECT_EQ(summary(c.counts), c.summary);
    }
    struct Found {
        std::size_t files, not_wav, folders, others, threads;
        const char* line;
    };
    for (const Found& c : {
             Found{1, 0, 1, 0, 1, "Found 1 WAV file in 1 folder."},  // one thread is not said
             Found{10, 0, 3, 1, 2, "Found 10 WAV files in 3 folders and 1 more path that is skipped or failed; "
                                   "converting 2 at a time."},
             Found{1, 1, 1, 0, 1, "Found 1 file in 1 folder (not named .wav, converted as asked)."},
             Found{3, 2, 2, 0, 2, "Found 3 files in 2 folders (2 of them not named .wav, converted as asked); "
                                  "converting 2 at a time."},
             Found{0, 0, 0, 1, 0, "Found no WAV file; 1 path is skipped or failed."},
             Found{0, 0, 0, 2, 0, "Found no WAV file; 2 paths are skipped or failed."},
             Found{0, 0, 0, 0, 0, "Found no WAV file."},
         }) {
        EXPECT_EQ(found(c.files, c.not_wav, c.folders, c.others, c.threads), c.line);
    }
    EXPECT_EQ(recap_heading(1, 1), "1 failed:");
    EXPECT_EQ(recap_heading(40, 1), "40 failed:");
    EXPECT_EQ(recap_heading(40, 3), "40 failed, for 3 reasons:");
    EXPECT_EQ(other_causes(5), "for 5 more reasons, each said in its line above");
    EXPECT_EQ(other_causes(1), "for 1 more reason, said in its line above");
    EXPECT_EQ(removed_words(1), "Removed 1 temporary copy left by a drop that was closed or stopped.");
    EXPECT_EQ(removed_words(2), "Removed 2 temporary copies left by a drop that was closed or stopped.");

    // Started with nothing, each program says where the copies go: inside a folder given, and
    // beside a file only when the file is given on its own.
    struct Nothing {
        Desktop desktop;
        const char* way;
    };
    for (const Nothing& c : {Nothing{Desktop::dolphin, "right-click a folder or WAV files in your file manager"},
                             Nothing{Desktop::explorer, "drag a folder or WAV files onto drop-files-here.exe"}}) {
        std::string words = nothing_given(c.desktop);
        std::replace(words.begin(), words.end(), '\n', ' ');
        EXPECT_NE(words.find(c.way), std::string::npos) << words;
        EXPECT_NE(words.find("a folder \"converted\" inside each folder given"), std::string::npos) << words;
        std::size_t const beside = words.find("beside");
        EXPECT_NE(beside, std::string::npos) << words;
        EXPECT_EQ(words.find("beside", beside + 1), std::string::npos) << words;
        std::string_view const alone = "beside a file given on its own.";
        EXPECT_EQ(words.compare(beside, alone.size(), alone), 0) << words;
    }
}

// The paths of each cause of failure at the end of a drop: one for each cause in turn while the
// rows last, a row more for "… and N more" where some are not shown, never more than a cause has.
TEST(DropPaths, EachCauseShowsPathsInTurnWithinItsRows) {
    struct Case {
        std::vector<std::size_t> counts;
        std::size_t rows;
        std::vector<std::size_t> shown;
    };
    std::size_t const most = paths_per_cause;
    for (const Case& c : {
             Case{{20, 10, 10}, 100, {most, most, most}},
             Case{{20, 10, 10}, 6, {1, 1, 1}},        // a path and its "more" each
             Case{{20, 10, 10}, 9, {2, 2, 2}},
             Case{{20, 10, 10}, 5, {2, 1, 0}},        // a third cause gets no path rather than no "more"
             Case{{20, 10, 10}, 0, {0, 0, 0}},
             Case{{1, 1, 2}, 4, {1, 1, 2}},           // every path shown: no "more"
             Case{{2}, 2, {2}},                       // its second path in place of its "more"
             Case{{40}, 3, {2}},
             Case{{20, 1}, 3, {1, 1}},                // the second cause fits after the first's two rows
         }) {
        std::vector<std::size_t> const shown = paths_shown(c.counts, c.rows);
        EXPECT_EQ(shown, c.shown) << c.rows << " rows";
        std::size_t rows = 0;
        for (std::size_t i = 0; i < shown.size(); ++i) rows += shown[i] == 0 ? 0 : shown[i] + (shown[i] < c.counts[i]);
        EXPECT_LE(rows, c.rows);
    }
}

// A path too wide for a row keeps its start and more of its end, cut between characters; the
// characters of wide scripts and emoji take two columns.
TEST(DropPaths, APathTooWideIsElidedInTheMiddle) {
    struct Case {
        std::string_view text;
        std::size_t width;
        std::string_view shown;
    };
    for (const Case& c : {
             Case{"/music/game/sfx/menu.wav", 40, "/music/game/sfx/menu.wav"},
             Case{"/music/game/sfx/menu.wav", 24, "/music/game/sfx/menu.wav"},
             Case{"/music/game/sfx/menu.wav", 23, "/music/\u2026me/sfx/menu.wav"},
             Case{"/音楽/ゲーム/効果音.wav", 12, "/音\u2026果音.wav"},  // 2 columns each: never a half
             Case{"/a/🎵🎵🎵🎵.wav", 9, "/a\u2026🎵.wav"},
             Case{"ab", 2, "ab"},
         }) {
        std::string const shown = elided(c.text, c.width);
        EXPECT_EQ(shown, c.shown) << c.text;
        EXPECT_LE(columns(shown), c.width) << c.text;
    }
    EXPECT_EQ(columns(std::string_view("/音楽/a.wav")), 11u);
    EXPECT_EQ(columns(std::wstring_view(L"/\u97F3\u697D/\xD83C\xDFB5.wav")), 12u);  // a pair of surrogates is one emoji
    EXPECT_EQ(elided(std::wstring_view(L"C:\\music\\game\\sfx\\menu.wav"), 20), L"C:\\mus\u2026\\sfx\\menu.wav");
}

// The progress row in a window of each width: all it says where it fits, the least of it going
// first where it does not (the time left, the speed, the bytes, the share), a folder at work only
// where a dozen columns are left for it, and never the window's last column.
TEST(DropPaths, TheProgressRowFitsItsWindow) {
    Progress const under_way{1234, 10000, 45600000, 4.0};  // 308.5 files a second, 28 s left
    Progress const started{0, 300, 0, 0.1};
    Progress const seconds_left{4, 11, 1000, 4.0}, hours_left{1, 1001, 0, 3.723};  // 7 s left; 1 h 2 min 3 s
    Progress const half_a_day_left{1, 1001, 0, 43.2};                                 // 12 h
    struct Case {
        Progress progress;
        std::size_t width;
        std::string words;
        std::size_t folder;
    };
    std::string const all = "1234/10000 files  12%  45.6 MB  11.4 MB/s  0:28 left";
    for (const Case& c : {
             Case{under_way, 200, all, 199 - all.size() - 2},
             Case{under_way, all.size() + 1 + 2 + 12, all, 12},  // a folder of twelve columns just fits
             Case{under_way, all.size() + 1 + 2 + 11, all, 0},
             Case{under_way, all.size() + 1, all, 0},
             Case{under_way, all.size(), "1234/10000 files  12%  45.6 MB  11.4 MB/s", 0},
             Case{under_way, 30, "1234/10000 files  12%", 0},
             Case{under_way, 17, "1234/10000 files", 0},
             Case{under_way, 12, "123\u20260 files", 0},  // the files alone, elided
             Case{started, 80, "0/300 files  0%  0 B", 80 - 1 - 20 - 2},  // no speed nor time left so soon
             Case{seconds_left, 80, "4/11 files  36%  1.00 kB  250 B/s  0:07 left", 80 - 1 - 44 - 2},
             Case{hours_left, 80, "1/1001 files  0%  0 B  0 B/s  1:02:03 left", 80 - 1 - 42 - 2},
             Case{half_a_day_left, 80, "1/1001 files  0%  0 B  0 B/s  12:00:00 left", 80 - 1 - 43 - 2},
         }) {
        Row const row = progress_row(c.progress, c.width);
        EXPECT_EQ(row.words, c.words) << c.width;
        EXPECT_EQ(row.folder, c.folder) << c.width;
        EXPECT_LE(columns(std::string_view(row.words)) + (row.folder == 0 ? 0 : 2 + row.folder), c.width - 1) << c.width;
    }
    EXPECT_EQ(size_words(999), "999 B");
    EXPECT_EQ(size_words(1000), "1.00 kB");
    EXPECT_EQ(size_words(999499), "999 kB");
    EXPECT_EQ(size_words(999500), "1.00 MB");
    EXPECT_EQ(size_words(std::uint64_t{5} << 40), "5.50 TB");
}

// A file is known by its first twelve bytes only: "RIFF" and "WAVE", plain or with its halves
// exchanged; anything shorter or else is neither.
TEST(DropPaths, AFileIsKnownByItsFirstBytes) {
    using Bytes = std::vector<std::uint8_t>;
    struct Case {
        const char* what;
        Bytes first;
        Form form;
    };
    Bytes const plain = {'R', 'I', 'F', 'F', 0x24, 0x08, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' '};
    Bytes swapped = plain;
    for (std::size_t i = 4; i < swapped.size(); ++i) swapped[i] = swap_halves(swapped[i]);
    for (const Case& c : {
             Case{"plain", plain, Form::plain_wav},
             Case{"converted", swapped, Form::converted_wav},
             Case{"twelve bytes", Bytes(plain.begin(), plain.begin() + 12), Form::plain_wav},
             Case{"short", Bytes(plain.begin(), plain.begin() + 11), Form::other},
             Case{"empty", {}, Form::other},
             Case{"RIFF of another kind", {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'A', 'V', 'I', ' '}, Form::other},
             Case{"WAVE half swapped", {'R', 'I', 'F', 'F', 0, 0, 0, 0, 0x75, 0x14, 'V', 'E'}, Form::other},
             Case{"WAVE's last byte other", {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'X'}, Form::other},
             Case{"WAVE swapped but its last", {'R', 'I', 'F', 'F', 0, 0, 0, 0, 0x75, 0x14, 0x65, 'E'}, Form::other},
             Case{"no RIFF", {'r', 'i', 'f', 'f', 0, 0, 0, 0, 'W', 'A', 'V', 'E'}, Form::other},
             Case{"RIFF swapped too", {0x25, 0x94, 0x64, 0x64, 0, 0, 0, 0, 0x75, 0x14, 0x65, 0x54}, Form::other},
         }) {
        EXPECT_EQ(form_of(c.first), c.form) << c.what;
    }
}

// UTF-8 names fold by Unicode's simple case folding, which holds every pair that case-insensitive
// file systems fold.
TEST(DropPaths, NamesOrderLetterCaseAside) {
    struct Case {
        const char* a;
        const char* b;
        int order;
    };
    for (const Case& c : {
             Case{"A.wav", "a.wav", 0}, Case{"Sub", "sub", 0}, Case{"\xC3\x89.wav", "\xC3\xA9.wav", 0},  // É é
             Case{"\xD0\x96", "\xD0\xB6", 0},                                                         // Ж ж
             Case{"\xD0\x81", "\xD1\x91", 0},                                                         // Ё ё
             Case{"\xCE\xA3", "\xCF\x83", 0},                                                         // Σ σ
             Case{"\xC4\x80", "\xC4\x81", 0}, Case{"\xC5\xBD", "\xC5\xBE", 0},                     // Ā ā, Ž ž
             Case{"\xC5\xB8", "\xC3\xBF", 0}, Case{"\xEF\xBC\xA1", "\xEF\xBD\x81", 0},           // Ÿ ÿ, Ａ ａ
             Case{"\xCE\x91", "\xCE\xB1", 0},                                                         // Α α
             Case{"\xD2\x90", "\xD2\x91", 0}, Case{"\xD3\x98", "\xD3\x99", 0},  // Ґ ґ, Ә ә
             Case{"\xCE\x86", "\xCE\xAC", 0}, Case{"\xC8\x98", "\xC8\x99", 0},  // Ά ά, Ș ș
             Case{"\xD2\xB2", "\xD2\xB3", 0}, Case{"\xCE\xA3", "\xCF\x82", 0},  // Ҳ ҳ, Σ ς
             Case{"\xE1\xB2\x90", "\xE1\x83\x90", 0},                               // Georgian Ა ა
             Case{"\xF0\x90\x90\x80", "\xF0\x90\x90\xA8", 0},                       // Deseret 𐐀 𐐨
             // Folded, though exFAT keeps them apart: converted after the others, each to a copy.
             Case{"\xE2\x84\xAA", "k", 0}, Case{"\xE1\xBA\x9E", "\xC3\x9F", 0},  // Kelvin sign k, ẞ ß
             // Folded by Unicode for Turkish only, and by no file system.
             Case{"\xC4\xB0", "\xC4\xB1", -1}, Case{"\xC4\xB0", "i", 1},  // İ ı, İ i
             Case{"\xC4\xB1", "I", 1},                                   // ı I
             Case{"\xCE\xA2", "\xCF\x82", -1},  // U+03A2, no character, and ς
             Case{"\xE0\xA0\x80", "\xE0\xA0\x81", -1},  // U+0800, the first of three bytes, and U+0801
             Case{"\xC3\x97", "\xC3\xB7", -1},  // × and ÷ are no letters
             Case{"\xC4\xB8", "\xC4\xB9", -1},  // nor is ĸ the small Ĺ
             Case{"a.wav", "B.wav", -1}, Case{"a", "a.wav", -1}, Case{"z.wav", "\xC3\xA9.wav", -1},
             Case{"\xE9.wav", "\xC3\xA9.wav", 1},  // a byte that starts no character, after them all
             Case{"\xC3.wav", "\xC3\xA9.wav", 1}, Case{"\xED\xA0\x80", "\xF4\x8F\xBF\xBF", 1},
             Case{"\xED\xBF\xBF", "\xF4\x8F\xBF\xBF", 1},  // the last surrogate, as the first
         }) {
        EXPECT_EQ(compare_ignoring_case(std::string_view(c.a), std::string_view(c.b)), c.order) << c.a << " " << c.b;
        EXPECT_EQ(compare_ignoring_case(std::string_view(c.b), std::string_view(c.a)), -c.order) << c.b << " " << c.a;
    }
}

#ifndef _WIN32
// `point` in UTF-8.
std::string utf8(char32_t point) {
    const auto byte = [](char32_t bits) { return static_cast<char>(bits); };
    if (point < 0x80) return {byte(point)};
    if (point < 0x800) return {byte(0xC0 | point >> 6), byte(0x80 | (point & 0x3F))};
    if (point < 0x10000) {
        return {byte(0xE0 | point >> 12), byte(0x80 | (point >> 6 & 0x3F)), byte(0x80 | (point & 0x3F))};
    }
    return {byte(0xF0 | point >> 18), byte(0x80 | (point >> 12 & 0x3F)), byte(0x80 | (point >> 6 & 0x3F)),
            byte(0x80 | (point & 0x3F))};
}

// Every character folds with its simple capital and small letter, in every script, as the C
// library maps them in C.UTF-8: Unicode's data by another hand than the table's. Dotted I and
// dotless i, which only Turkish folds with i and I, aside.
TEST(DropPaths, EveryLetterFoldsWithItsCapitalAndItsSmallLetter) {
    locale_t const unicode = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{});
    if (unicode == locale_t{}) GTEST_SKIP() << "no locale C.UTF-8 to take the letters' case from";
    std::vector<std::string> missed;
    for (char32_t point = 0; point < 0x110000; ++point) {
        if ((point >= 0xD800 && point <= 0xDFFF) || point == 0x130 || point == 0x131) continue;
        for (wint_t const other : {towupper_l(point, unicode), towlower_l(point, unicode)}) {
            if (compare_ignoring_case(std::string_view(utf8(point)), std::string_view(utf8(other))) != 0) {
                missed.push_back(utf8(point) + " " + utf8(other));
            }
        }
    }
    freelocale(unicode);
    EXPECT_EQ(missed, std::vector<std::string>{});
}
#endif

// Letter case as an ASCII file system folds it, standing in for the system's comparison.
int ascii_compare(PathView a, PathView b) {
    const auto lower = [](Path::value_type c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; };
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
        if (lower(a[i]) != lower(b[i])) return lower(a[i]) < lower(b[i]) ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
}

// `path`, written with slashes, as a path of this platform: "sub\\x.wav" on Windows; and a full
// one, from the root "/": "C:\\G\\x.wav" on Windows.
Path local(std::string_view path) {
#ifdef _WIN32
    Path p;
    for (char const c : path) p += c == '/' ? L'\\' : static_cast<wchar_t>(c);
    return p;
#else
    return Path(path);
#endif
}
Path native(std::string_view path) {
#ifdef _WIN32
    return L"C:" + local(path);
#else
    return local(path);
#endif
}

// Two threads for each processor, from 2 to 8, unless QUOXEL_DROP_THREADS says from 1 to 64.
TEST(DropPaths, ThreadsForTheMachine) {
    struct Case {
        std::size_t processors;
        const char* setting;
        std::size_t threads;
    };
    for (const Case& c : {Case{0, nullptr, 2}, Case{1, nullptr, 2}, Case{2, nullptr, 4}, Case{3, nullptr, 6},
                          Case{16, nullptr, 8}, Case{2, "1", 1}, Case{2, "64", 64}, Case{2, "65", 4}, Case{2, "0", 4},
                          Case{2, "x", 4}}) {
        EXPECT_EQ(threads_for(c.processors, c.setting), c.threads) << c.processors << " " << (c.setting ? c.setting : "");
    }
}

// A folder's names stand in one order whatever order its listing gives.
TEST(DropPaths, AFoldersNamesStandInOneOrder) {
    const auto names = [](std::initializer_list<std::string_view> list) {
        std::vector<Path> paths;
        for (std::string_view const name : list) paths.push_back(local(name));
        return paths;
    };
    for (std::vector<Path> listed : {names({"c0.wav", "b1.wav", "a2.wav", "A.wav.wav", "a.wav"}),
                                     names({"a.wav", "a2.wav", "A.wav.wav", "c0.wav", "b1.wav"})}) {
        sort_names(listed, ascii_compare);
        EXPECT_EQ(listed, names({"a.wav", "A.wav.wav", "a2.wav", "b1.wav", "c0.wav"}));
    }
    for (std::vector<Path> twins : {names({"sub", "Sub", "SUB"}), names({"Sub", "SUB", "sub"})}) {
        sort_names(twins, ascii_compare);
        EXPECT_EQ(twins, names({"SUB", "Sub", "sub"}));  // the same one first, whatever the listing
    }
}

// A file `name` in the folder `relative` below the folder given `top`, written with slashes; the
// folder given is the folder `same_as` where that is given, as through a link.
struct Given {
    std::string_view top, relative, name, same_as = {};
};

// The work of the files `given`, each folder known by an identity of its own.
Work work_of(const std::vector<Given>& given) {
    Work work;
    std::map<Path, std::uint64_t> folders;
    const auto identity = [&](const Path& path) { return Identity{1, folders.emplace(path, folders.size() + 1).first->second}; };
    for (const Given& g : given) {
        Path const top = native(g.top);
        Identity const top_identity = identity(native(g.same_as.empty() ? g.top : g.same_as));
        auto known = std::find_if(work.tops.begin(), work.tops.end(), [&](const Top& t) { return t.identity == top_identity; });
        if (known == work.tops.end()) known = work.tops.insert(known, {Folder{no_handle, top, false, 0, false, {}}, top_identity});
        Path const relative = local(g.relative);
        Path const real_top = native(g.same_as.empty() ? g.top : g.same_as);
        work.sources.push_back({static_cast<std::uint32_t>(known - work.tops.begin()), relative,
                                identity(relative.empty() ? real_top : join(real_top, relative))});
        work.jobs.push_back({local(g.name), static_cast<std::uint32_t>(work.sources.size() - 1), false, false});
    }
    return work;
}

TEST(DropPaths, EachFileOnceIntoItsOutermostCopiesAndTwinsByTheirWholePath) {
    struct Case {
        const char* what;
        std::vector<Given> given;
        std::vector<Path> kept;  // each job's copy, in the order given
        std::vector<bool> twins;
        std::size_t folders;
    };
    const auto in_g = [&](std::string_view relative) { return native("/G/converted/" + std::string(relative)); };
    for (const Case& c : {
             Case{"a file and its folder", {{"/G/sub", "", "b.wav"}, {"/G", "", "a.wav"}, {"/G", "sub", "b.wav"}},
                  {in_g("a.wav"), in_g("sub/b.wav")}, {false, false}, 2},
             Case{"a folder twice and a folder below it",
                  {{"/G", "", "a.wav"}, {"/G", "", "a.wav"}, {"/G/sub", "", "b.wav"}, {"/G", "sub", "b.wav"}},
                  {in_g("a.wav"), in_g("sub/b.wav")}, {false, false}, 2},
             Case{"one folder by two names", {{"/G", "", "a.wav"}, {"/L", "", "a.wav", "/G"}}, {in_g("a.wav")}, {false}, 1},
             Case{"case twin folders", {{"/G", "Sub", "x.wav"}, {"/G", "sub", "x.wav"}, {"/G", "sub", "y.wav"}},
                  {in_g("Sub/x.wav"), in_g("sub/x.wav"), in_g("sub/y.wav")}, {false, true, false}, 2},
             Case{"case twin files", {{"/G", "", "A.wav"}, {"/G", "", "a.wav"}}, {in_g("A.wav"), in_g("a.wav")},
                  {false, true}, 1},
             Case{"files of two folders given in turn", {{"/G", "a", "x.wav"}, {"/G", "b", "y.wav"}, {"/G", "a", "z.wav"}},
                  {in_g("a/x.wav"), in_g("b/y.wav"), in_g("a/z.wav")}, {false, false, false}, 2},
         }) {
        Work work = work_of(c.given);
        finish(work, ascii_compare);
        std::vector<Path> kept;
        std::vector<bool> twins;
        for (const Job& j : work.jobs) {
            kept.push_back(join(join(work.tops[source_of(work, j).top].folder.path, local("converted")), copy_path(work, j)));
            twins.push_back(j.case_twin);
        }
        EXPECT_EQ(kept, c.kept) << c.what;
        EXPECT_EQ(twins, c.twins) << c.what;
        EXPECT_EQ(work.folders, c.folders) << c.what;
    }
}

// The current user's registry and Send To folder as a map, which can fail its Nth change.
class FakePlaces final : public MenuPlaces {
public:
    std::set<std::wstring> keys = {L"Software", L"Software\\Classes"};  // as every user has them
    std::map<std::pair<std::wstring, std::wstring>, std::wstring> values;
    std::optional<std::wstring> link;  // the shortcut's program
    std::size_t changes = 0, fail_at = 0;  // the change that fails, counted from 1; 0 for none
    bool notified = false;

    std::optional<std::wstring> value(const std::wstring& key, const std::wstring& name) override {
        auto const found = values.find({key, name});
        return found == values.end() ? std::nullopt : std::optional(found->second);
    }
    Error set_value(const std::wstring& key, const std::wstring& name, const std::wstring& text) override {
        if (fails()) return 5;
        for (std::size_t at = key.find(L'\\'); at != std::wstring::npos; at = key.find(L'\\', at + 1)) keys.insert(key.substr(0, at));
        keys.insert(key);
        values[{key, name}] = text;
        return 0;
    }
    Error remove_value(const std::wstring& key, const std::wstring& name) override {
        if (fails()) return 5;
        values.erase({key, name});
        return 0;
    }
    Error remove_key_if_empty(const std::wstring& key) override {
        if (fails()) return 5;
        for (const auto& [place, text] : values) {
            if (place.first == key) return 0;
        }
        for (const std::wstring& other : keys) {
            if (other.starts_with(key + L"\\")) return 0;
        }
        keys.erase(key);
        return 0;
    }
    std::optional<std::wstring> shortcut(const std::wstring& name) override {
        EXPECT_EQ(name, L"Make converted copies (quoxel).lnk");
        return link;
    }
    Error make_shortcut(const std::wstring&, const std::wstring& program) override {
        if (fails()) return 5;
        link = program;
        return 0;
    }
    Error remove_shortcut(const std::wstring&) override {
        if (fails()) return 5;
        link.reset();
        return 0;
    }
    void menus_changed() override { notified = true; }
    std::wstring error_text(Error error) override { return L"Access is denied (" + std::to_wstring(error) + L")"; }

private:
    bool fails() { return ++changes == fail_at; }
};

const std::wstring program = L"C:\\Tools\\quoxel 1.0 & 50%1 %% \u00FCn\u00EF\\drop-files-here.exe";

// A command line as Explorer runs it for `item`: %1 replaced by the item and %% by %, then
// split as the C runtime splits it: the program's name up to its closing quote, the other
// arguments by the rules of backslashes before a quote.
std::vector<std::wstring> run_as_explorer(std::wstring_view command, std::wstring_view item) {
    std::wstring line;
    for (std::size_t i = 0; i < command.size(); ++i) {
        if (command[i] == L'%' && i + 1 < command.size() && command[i + 1] == L'1') {
            line += item;
            ++i;
        } else {
            line += command[i];
            if (command[i] == L'%' && i + 1 < command.size() && command[i + 1] == L'%') ++i;
        }
    }
    std::vector<std::wstring> arguments(1);
    std::size_t i = 1;
    for (; i < line.size() && line[i] != L'"'; ++i) arguments[0] += line[i];
    for (++i; i < line.size();) {
        while (i < line.size() && line[i] == L' ') ++i;
        if (i == line.size()) break;
        std::wstring& argument = arguments.emplace_back();
        for (bool quoted = false; i < line.size() && (quoted || line[i] != L' ');) {
            std::size_t backslashes = 0;
            while (i < line.size() && line[i] == L'\\') ++backslashes, ++i;
            if (i < line.size() && line[i] == L'"') {
                argument.append(backslashes / 2, L'\\');
                if (backslashes % 2 == 1) argument += L'"';
                else quoted = !quoted;
                ++i;
            } else {
                argument.append(backslashes, L'\\');
                if (i < line.size() && (quoted || line[i] != L' ')) argument += line[i++];
            }
        }
    }
    return arguments;
}

// Each right-click entry names the program where it is, whatever its folder's name, and gets
// the item chosen as its one argument.
TEST(DropMenu, TheEntriesNameTheProgramAndTheItem) {
    for (const wchar_t* where : {L"C:\\Tools\\drop-files-here.exe", program.c_str(),
                                 L"D:\\%USERPROFILE% %1 %* %L\\x.exe", L"\\\\nas\\share\\a\u00A0b\\\U0001F600.exe"}) {
        std::wstring const command = menu_command(where);
        for (const wchar_t* item : {L"C:\\Music\\a b & c.wav", L"C:\\50% x", L"C:\\Game\\sounds"}) {
            EXPECT_EQ(run_as_explorer(command, item), (std::vector<std::wstring>{where, item})) << command;
        }
    }
    std::vector<MenuValue> const values = menu_values(program);
    std::set<std::wstring> kinds, single;
    for (const MenuValue& value : values) {
        EXPECT_TRUE(value.key.starts_with(L"Software\\Classes\\")) << value.key;  // the user's own, no administrator
        std::wstring const kind = value.key.substr(0, value.key.find(L"\\shell\\"));
        if (value.key.ends_with(L"\\command")) {
            EXPECT_EQ(value.text, menu_command(program));
            kinds.insert(kind);
        }
        if (value.name == L"MultiSelectModel" && value.text == L"Single") single.insert(kind);  // a window for each choice
    }
    // Folders, and .wav files beside whatever program the user opens them with.
    std::set<std::wstring> const both = {L"Software\\Classes\\Directory", L"Software\\Classes\\SystemFileAssociations\\.wav"};
    EXPECT_EQ(kinds, both);
    EXPECT_EQ(single, both);
    EXPECT_EQ(menu_keys().back(), L"Software\\Classes\\SystemFileAssociations");
}

// Adding sets each value and the shortcut once: a second add changes nothing. Taking them away
// leaves the user's registry and Send To folder exactly as they were before, the user's own
// entries and values beside them included; and says what the menus hold at each step.
TEST(DropMenu, AddingTwiceChangesNothingAndTakingAwayLeavesTheUsersOwn) {
    FakePlaces places;
    places.set_value(L"Software\\Classes\\Directory\\shell\\theirs\\command", L"", L"their.exe \"%1\"");
    places.set_value(L"Software\\Classes\\SystemFileAssociations\\.wav", L"PerceivedType", L"audio");
    places.set_value(L"Software\\Classes\\.wav", L"", L"their.wav.player");
    auto const keys = places.keys;
    auto const values = places.values;
    EXPECT_EQ(menu_now(places, program).is, MenuNow::Is::none);

    MenuChange change = add_menu(places, program);
    EXPECT_TRUE(change.changed);
    EXPECT_EQ(change.error, 0);
    EXPECT_TRUE(places.notified);
    for (const MenuValue& value : menu_values(program)) EXPECT_EQ(places.value(value.key, value.name), value.text);
    EXPECT_EQ(places.link, program);
    EXPECT_EQ(places.values.at({L"Software\\Classes\\.wav", L""}), L"their.wav.player");  // their program for .wav files
    EXPECT_EQ(menu_now(places, program).is, MenuNow::Is::here);

    std::size_t const changes = places.changes;
    places.notified = false;
    change = add_menu(places, program);
    EXPECT_FALSE(change.changed);
    EXPECT_EQ(places.changes, changes);
    EXPECT_FALSE(places.notified);

    // A value of the user's in the entry's own key stays, and so does that key.
    std::wstring const folders = L"Software\\Classes\\Directory\\shell\\quoxel";
    places.set_value(folders, L"Icon", L"their.ico");
    change = remove_menu(places);
    EXPECT_TRUE(change.changed);
    EXPECT_EQ(places.values.at({folders, L"Icon"}), L"their.ico");
    places.remove_value(folders, L"Icon");
    places.remove_key_if_empty(folders);
    places.remove_key_if_empty(L"Software\\Classes\\Directory\\shell\\quoxel");
    EXPECT_EQ(places.keys, keys);
    EXPECT_EQ(places.values, values);
    EXPECT_FALSE(places.link);
    EXPECT_EQ(menu_now(places, program).is, MenuNow::Is::none);
    places.notified = false;
    EXPECT_FALSE(remove_menu(places).changed);
    EXPECT_FALSE(places.notified);  // nothing for Explorer to show anew

    // With nothing of the user's, nothing at all is left.
    FakePlaces empty;
    add_menu(empty, program);
    remove_menu(empty);
    EXPECT_EQ(empty.keys, FakePlaces().keys);
    EXPECT_TRUE(empty.values.empty() && !empty.link);

    // Entries of a program in another folder are put right for this one, and taken away alike.
    FakePlaces moved;
    add_menu(moved, L"D:\\old\\drop-files-here.exe");
    MenuNow const now = menu_now(moved, program);
    EXPECT_EQ(now.is, MenuNow::Is::elsewhere);
    EXPECT_EQ(now.elsewhere, L"D:\\old\\drop-files-here.exe");
    moved.link.reset();
    EXPECT_EQ(menu_now(moved, program).is, MenuNow::Is::part);
    EXPECT_TRUE(add_menu(moved, program).changed);
    EXPECT_EQ(menu_now(moved, program).is, MenuNow::Is::here);
}

// The window started with nothing says what the menus hold, asks, and does as it is told; each
// line fits the window's 80 columns, but for the program's path. A failure says where it was.
TEST(DropMenu, TheWindowAsksAndDoesAsTold) {
    const auto talk = [](FakePlaces& places, std::vector<std::wstring> typed, bool waits) {
        std::wstring said;
        std::size_t next = 0;
        bool const waited = offer_menu(
            places, program, [&]() -> std::optional<std::wstring> { return next < typed.size() ? std::optional(typed[next++]) : std::nullopt; },
            [&](const std::wstring& lines) {
                said += lines + L"\n";
                for (std::size_t start = 0, end = 0; start < lines.size(); start = end + 1) {
                    end = std::min(lines.find(L'\n', start), lines.size());
                    std::wstring_view const line = std::wstring_view(lines).substr(start, end - start);
                    if (line != L"  " + program) {
                        EXPECT_LT(columns(line), screen_columns) << std::string(line.begin(), line.end());
                    }
                }
            });
        EXPECT_EQ(waited, waits) << std::string(said.begin(), said.end());
        return said;
    };
    const auto has = [](const std::wstring& said, std::wstring_view part) {
        return said.find(part) != std::wstring::npos;
    };
    FakePlaces places;
    std::wstring said = talk(places, {L""}, false);
    EXPECT_TRUE(has(said, L"Now the right-click menu has no \"Make converted copies (quoxel)\"."));
    EXPECT_TRUE(has(said, L"Type A and Enter to add it to the right-click menu of folders and .wav files,\n"
                          L"R and Enter to take it away, or just Enter to close."));
    EXPECT_TRUE(places.values.empty());
    talk(places, {}, false);  // no more input: the window closes

    said = talk(places, {L"x", L" a "}, true);
    EXPECT_TRUE(has(said, L"Type A, R or nothing, then Enter."));
    EXPECT_TRUE(has(said, L"Added."));
    EXPECT_TRUE(has(said, L"\"Show more options\""));
    EXPECT_TRUE(has(said, L"Send to"));
    EXPECT_TRUE(has(said, L"\n  " + program + L"\n"));
    EXPECT_EQ(places.link, program);

    said = talk(places, {L"A"}, true);
    EXPECT_TRUE(has(said, L"and so has its Send to menu."));
    EXPECT_TRUE(has(said, L"was there already, for this program:\nnothing changed."));

    said = talk(places, {L"R"}, true);
    EXPECT_TRUE(has(said, L"Took \"Make converted copies (quoxel)\" away"));
    EXPECT_EQ(places.keys, FakePlaces().keys);
    EXPECT_TRUE(places.values.empty() && !places.link);
    said = talk(places, {L"r"}, true);
    EXPECT_TRUE(has(said, L"There was no \"Make converted copies (quoxel)\" to take away; nothing changed."));

    // The longest exchange, with what the window said before it, the answer typed and the wait
    // for Enter, fits the window as Windows opens it, its first line kept in view.
    FakePlaces moved;
    add_menu(moved, L"D:\\Games\\quoxel 1.0\\drop-files-here.exe");
    said = talk(moved, {L"a"}, true);
    EXPECT_TRUE(has(said, L"for a program\nin another folder:\n  D:\\Games\\quoxel 1.0\\drop-files-here.exe\n"));
    std::string const words = nothing_given(Desktop::explorer);
    std::wstring all(words.begin(), words.end());
    all += L"\n" + said + L"a\nPress Enter to close this window.\n";
    std::size_t rows = 1;  // the cursor's, below the last line
    for (std::size_t start = 0, end = 0; start < all.size(); start = end + 1) {
        end = all.find(L'\n', start);
        rows += rows_of(columns(std::wstring_view(all).substr(start, end - start)));
    }
    EXPECT_LE(rows, screen_rows) << std::string(all.begin(), all.end());
    EXPECT_TRUE(has(all, L"\"Make converted copies (quoxel)\", which this program adds to the right-click\n"));

    places.fail_at = places.changes + 4;  // the fourth value
    said = talk(places, {L"a"}, true);
    EXPECT_TRUE(has(said, L"Could not add it: Access is denied (5)\n  HKEY_CURRENT_USER\\Software\\Classes\\"
                          L"SystemFileAssociations\\.wav\\shell\\quoxel\n"));
    EXPECT_TRUE(has(said, L"Could not add it") && has(said, L"has only a part of"));
    places.fail_at = places.changes + 2;  // the second value
    said = talk(places, {L"r"}, true);
    EXPECT_TRUE(has(said, L"Could not take it away: Access is denied (5)"));
}

}  // namespace

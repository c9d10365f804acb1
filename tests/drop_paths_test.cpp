// Tests of the drop program's decisions that need no system call: the extended form of a path,
// the "converted" rule, where a copy goes, the quoting of the tool's command line, the names of
// temporary copies and how an exit status reads. They build and run on every platform.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "paths.hpp"

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
}

// What the C runtime's parser gives back from a command line, by its documented rules: outside
// quotes a space ends an argument; before a quote, 2n backslashes give n and the quote opens or
// closes, 2n+1 give n and the quote itself; backslashes elsewhere stand as they are.
std::vector<std::wstring> parsed(std::wstring_view line) {
    std::vector<std::wstring> arguments;
    std::wstring argument;
    bool in_argument = false, quoted = false;
    std::size_t backslashes = 0;
    for (wchar_t const c : line) {
        if (c == L'\\') {
            ++backslashes;
            in_argument = true;
            continue;
        }
        if (c == L'"') {
            argument.append(backslashes / 2, L'\\');
            if (backslashes % 2 == 1)
                argument += c;
            else
                quoted = !quoted;
        } else {
            argument.append(backslashes, L'\\');
            if (c == L' ' && !quoted) {
                if (in_argument) arguments.push_back(argument);
                argument.clear();
                in_argument = false;
                backslashes = 0;
                continue;
            }
            argument += c;
        }
        backslashes = 0;
        in_argument = true;
    }
    argument.append(backslashes, L'\\');
    if (in_argument) arguments.push_back(argument);
    return arguments;
}

TEST(DropPaths, TheCommandLineGivesEachArgumentBack) {
    const std::wstring tool = L"C:\\quoxel 1.0 & 50%!\\quoxel.exe";
    for (const wchar_t* file : {L"\\\\?\\C:\\F\\converted\\quoxel-12-3.tmp", L"C:\\a b\\", L"C:\\x\"y", L"a\\\\\"b",
                                L"\\\\?\\UNC\\nas\\s p\\q.tmp", L"-dash ^;()"}) {
        const std::wstring line = command_line(tool, file);
        EXPECT_EQ(parsed(line), (std::vector<std::wstring>{tool, file})) << line.size();
    }
}

TEST(DropPaths, TemporaryCopiesAreToldByTheirName) {
    EXPECT_EQ(temporary_name(4321, 17), L"quoxel-4321-17.tmp");
    EXPECT_EQ(temporary_owner(temporary_name(4294967295U, 0)), 4294967295U);
    EXPECT_EQ(lock_name(4321), L"quoxel-4321.lock");
    for (const wchar_t* name : {L"quoxel-4321.tmp", L"quoxel--1.tmp", L"quoxel-12-.tmp", L"quoxel-1x-2.tmp",
                                L"quoxel-1-2.tmp.wav", L"quoxel-4294967296-1.tmp", L"my quoxel-1-2.tmp"}) {
        EXPECT_FALSE(temporary_owner(name)) << name;  // a user's file is never taken for a leftover
    }
}

TEST(DropPaths, TextsForUsers) {
    EXPECT_EQ(exit_status(1), L"status 1");
    EXPECT_EQ(exit_status(0xC0000005U), L"status 0xC0000005, an access violation");
    EXPECT_EQ(exit_status(0xC0000033U), L"status 0xC0000033");
    EXPECT_EQ(filled(L"Bad EXE format for %1.", L"quoxel.exe"), L"Bad EXE format for quoxel.exe.");
    EXPECT_EQ(filled(L"%1!s! is not a valid Win32 application. 100%% sure", L"q.exe"),
              L"q.exe is not a valid Win32 application. 100% sure");
}

}  // namespace

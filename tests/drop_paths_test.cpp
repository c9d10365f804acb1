// Tests of the drop program's decisions that need no system call: the extended form of a path,
// the "converted" rule, where a copy goes, the names of temporary copies, system texts, and which
// jobs a drop keeps. They build and run on every platform.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "paths.hpp"
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
    EXPECT_EQ(filled(L"Bad EXE format for %1.", L"quoxel.exe"), L"Bad EXE format for quoxel.exe.");
    EXPECT_EQ(filled(L"%1!s! is not a valid Win32 application. 100%% sure", L"q.exe"),
              L"q.exe is not a valid Win32 application. 100% sure");
}

// Letter case as an ASCII file system folds it, standing in for the system's comparison.
int ascii_compare(std::wstring_view a, std::wstring_view b) {
    const auto lower = [](wchar_t c) { return c >= L'A' && c <= L'Z' ? c - L'A' + L'a' : c; };
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
        if (lower(a[i]) != lower(b[i])) return lower(a[i]) < lower(b[i]) ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
}

// The job of the file `relative` in the folder whose copies go to `copies`.
Job job(const std::wstring& copies, const std::wstring& relative) {
    return {join(parent(copies), relative), L"", copies, relative, false};
}

TEST(DropPaths, EachFileOnceIntoItsOutermostCopiesAndTwinsByTheirWholePath) {
    struct Case {
        const char* what;
        std::vector<Job> given;
        std::vector<std::wstring> kept;  // each job's copy, in the order given
        std::vector<bool> twins;
        std::size_t folders;
    };
    const std::wstring g = L"C:\\G\\converted", sub = L"C:\\G\\sub\\converted";
    Job const b_alone{L"C:\\G\\sub\\b.wav", L"", sub, L"b.wav", false};
    for (const Case& c : {
             Case{"a file and its folder", {b_alone, job(g, L"a.wav"), job(g, L"sub\\b.wav")},
                  {g + L"\\a.wav", g + L"\\sub\\b.wav"}, {false, false}, 2},
             Case{"a folder twice and a folder below it",
                  {job(g, L"a.wav"), job(g, L"a.wav"), job(sub, L"b.wav"), job(g, L"sub\\b.wav")},
                  {g + L"\\a.wav", g + L"\\sub\\b.wav"}, {false, false}, 2},
             Case{"case twin folders", {job(g, L"Sub\\x.wav"), job(g, L"sub\\x.wav"), job(g, L"sub\\y.wav")},
                  {g + L"\\Sub\\x.wav", g + L"\\sub\\x.wav", g + L"\\sub\\y.wav"}, {false, true, false}, 2},
             Case{"case twin files", {job(g, L"A.wav"), job(g, L"a.wav")}, {g + L"\\A.wav", g + L"\\a.wav"},
                  {false, true}, 1},
         }) {
        Work work;
        work.jobs = c.given;
        finish(work, ascii_compare);
        std::vector<std::wstring> kept;
        std::vector<bool> twins;
        for (const Job& j : work.jobs) {
            kept.push_back(join(j.copies, j.relative));
            twins.push_back(j.case_twin);
        }
        EXPECT_EQ(kept, c.kept) << c.what;
        EXPECT_EQ(twins, c.twins) << c.what;
        EXPECT_EQ(work.folders, c.folders) << c.what;
    }
}

}  // namespace


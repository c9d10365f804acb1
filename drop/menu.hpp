// "Make converted copies (quoxel)" in File Explorer's right-click menu of folders and .wav files,
// and in its Send to menu: the entries, their adding and taking away, and what a window started
// with nothing says of them. Portable, so that every decision and word is tested on any system;
// explorer_windows.cpp answers with Windows' registry and shortcut calls.
//
// The entries are the current user's own (HKEY_CURRENT_USER\Software\Classes, and a shortcut in
// the user's Send To folder), so that no administrator is needed. A right-click entry is a plain
// verb, which Explorer runs once for each item chosen: it is shown for one item at a time only
// (MultiSelectModel Single). Several items at once go through Send to, which passes them all to
// one program, as a drop on it does, and so open one window.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "copy.hpp"

namespace drop {

// What a system answers and changes for the entries. A key is a path below HKEY_CURRENT_USER; a
// value's name "" is the key's default value.
class MenuPlaces {
public:
    virtual ~MenuPlaces() = default;
    // The text that the value `name` of `key` holds; none where the key or the value is not
    // there, or the value holds no text.
    virtual std::optional<std::wstring> value(const std::wstring& key, const std::wstring& name) = 0;
    // Sets the value to `text`, making the key, and those above it, where they are not there.
    virtual Error set_value(const std::wstring& key, const std::wstring& name, const std::wstring& text) = 0;
    // Removes the value: 0 also where it or its key is not there.
    virtual Error remove_value(const std::wstring& key, const std::wstring& name) = 0;
    // Removes `key` if it holds neither a value nor a key: 0 also where it is not there or not empty.
    virtual Error remove_key_if_empty(const std::wstring& key) = 0;
    // The program that the shortcut `name` in the user's Send To folder leads to: none where there
    // is no such file, empty where it leads to no file.
    virtual std::optional<std::wstring> shortcut(const std::wstring& name) = 0;
    // Makes the shortcut `name` to `program` there, in place of one of that name.
    virtual Error make_shortcut(const std::wstring& name, const std::wstring& program) = 0;
    // Removes it: 0 also where it is not there.
    virtual Error remove_shortcut(const std::wstring& name) = 0;
    // Tells the file manager that the menus of a kind of file changed.
    virtual void menus_changed() = 0;
    // The system's text for `error`.
    virtual std::wstring error_text(Error error) = 0;
};

// The entries' name in the menus, in ASCII, which the words of the end also name.
inline constexpr std::string_view menu_entry = "Make converted copies (quoxel)";

// A value that the entries set: its key, its name and its text.
struct MenuValue {
    std::wstring key, name, text;
};

// The values of the entries for the program at `program`, a full path, in the order in which
// they are set: for folders (Directory) and for .wav files, where the user's own program for
// .wav files stays as it is (SystemFileAssociations\.wav), the entry's name, that it is shown
// for one item at a time, and its command line.
std::vector<MenuValue> menu_values(std::wstring_view program);

// The keys of the entries and the keys above them up to Software\Classes, innermost first:
// taking the entries away removes each that their values leave empty.
std::vector<std::wstring> menu_keys();

// The file name of the Send to entry, in the user's Send To folder.
std::wstring menu_shortcut();

// The command line of a right-click entry: the program, quoted as a program's name on a
// command line is (it never holds a quote), and the item chosen, quoted too. Explorer replaces
// %1 by the item, and a % of the program's path stands doubled so that it stays one %.
std::wstring menu_command(std::wstring_view program);

// What is in the menus now: none of the entries, all of them for the program at `program`,
// all of them with one for another program (the first of them in `elsewhere`), or only some.
struct MenuNow {
    enum class Is { none, here, elsewhere, part };
    Is is = Is::none;
    std::wstring elsewhere;
};
MenuNow menu_now(MenuPlaces& places, std::wstring_view program);

// The adding or taking away of the entries: whether anything changed, and where it stopped.
struct MenuChange {
    bool changed = false;
    Error error = 0;
    std::wstring failed_at;  // the key or shortcut that the error is about
};

// Sets each value and the shortcut that are not as the entries for `program` have them; stops at
// the first failure.
MenuChange add_menu(MenuPlaces& places, std::wstring_view program);

// Removes the values that the entries set, each key that this leaves empty, and the shortcut;
// nothing else, whatever the user keeps beside them. Stops at the first failure.
MenuChange remove_menu(MenuPlaces& places);

// What a program started with nothing says and asks in a window of its own: what the menus hold
// now, and whether to add the entries or take them away. It reads the answer from `answer` (none
// once there is no more input) and says each line with `say`. Returns whether the window should
// then wait for Enter, so that what it did can be read.
bool offer_menu(MenuPlaces& places, std::wstring_view program, const std::function<std::optional<std::wstring>()>& answer,
                const std::function<void(const std::wstring&)>& say);

}  // namespace drop

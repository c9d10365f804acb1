#include "menu.hpp"

#include <array>

namespace drop {

namespace {

const std::wstring classes = L"Software\\Classes\\";
const std::wstring entry_name(menu_entry.begin(), menu_entry.end());
// The kinds of item that get the right-click entry: folders, and .wav files whatever program the
// user has for them.
constexpr std::array<std::wstring_view, 2> kinds = {L"Directory", L"SystemFileAssociations\\.wav"};
constexpr std::wstring_view verb = L"\\shell\\quoxel";

std::wstring verb_key(std::wstring_view kind) { return classes + std::wstring(kind) + std::wstring(verb); }

// The program that a command line of the entries names, its doubled % made one again.
std::wstring command_program(std::wstring_view command) {
    std::wstring_view quoted;
    if (command.starts_with(L'"')) {
        quoted = command.substr(1, command.find(L'"', 1) - 1);
    } else {
        quoted = command.substr(0, command.find(L' '));
    }
    std::wstring program;
    for (std::size_t i = 0; i < quoted.size(); ++i) {
        program += quoted[i];
        if (quoted[i] == L'%' && i + 1 < quoted.size() && quoted[i + 1] == L'%') ++i;
    }
    return program;
}

// Each of the three entries as it is now: not there, there for `program`, or not as this program
// makes it, with the program it names where that is another.
struct Entry {
    enum class Is { absent, here, other } is;
    std::wstring program;
};

std::vector<Entry> entries_now(MenuPlaces& places, std::wstring_view program) {
    std::vector<Entry> entries;
    std::vector<MenuValue> const values = menu_values(program);
    for (std::wstring_view const kind : kinds) {
        std::wstring const key = verb_key(kind);
        std::optional<std::wstring> const command = places.value(key + L"\\command", L"");
        if (!command) {
            entries.push_back({Entry::Is::absent, {}});
            continue;
        }
        bool here = true;
        for (const MenuValue& value : values) {
            if (value.key.starts_with(key + L"\\") || value.key == key) here = here && places.value(value.key, value.name) == value.text;
        }
        std::wstring named = command_program(*command);
        entries.push_back({here ? Entry::Is::here : Entry::Is::other, named == program ? std::wstring() : named});
    }
    std::optional<std::wstring> const target = places.shortcut(menu_shortcut());
    if (!target) {
        entries.push_back({Entry::Is::absent, {}});
    } else {
        entries.push_back({*target == program ? Entry::Is::here : Entry::Is::other, *target == program ? std::wstring() : *target});
    }
    return entries;
}

}  // namespace

std::vector<MenuValue> menu_values(std::wstring_view program) {
    std::vector<MenuValue> values;
    for (std::wstring_view const kind : kinds) {
        std::wstring const key = verb_key(kind);
        values.push_back({key, L"", entry_name});
        values.push_back({key, L"MultiSelectModel", L"Single"});
        values.push_back({key + L"\\command", L"", menu_command(program)});
    }
    return values;
}

std::vector<std::wstring> menu_keys() {
    std::vector<std::wstring> keys;
    for (std::wstring_view const kind : kinds) {
        std::wstring key = verb_key(kind) + L"\\command";
        // Up to the key below Software\Classes, which is the last one taken.
        while (key.size() > classes.size()) {
            keys.push_back(key);
            key.erase(key.rfind(L'\\'));
        }
    }
    return keys;
}

std::wstring menu_shortcut() { return entry_name + L".lnk"; }

std::wstring menu_command(std::wstring_view program) {
    std::wstring command = L"\"";
    for (wchar_t const c : program) {
        command += c;
        if (c == L'%') command += L'%';
    }
    return command + L"\" \"%1\"";
}

MenuNow menu_now(MenuPlaces& places, std::wstring_view program) {
    std::size_t here = 0, absent = 0;
    MenuNow now;
    for (const Entry& entry : entries_now(places, program)) {
        here += entry.is == Entry::Is::here;
        absent += entry.is == Entry::Is::absent;
        if (now.elsewhere.empty()) now.elsewhere = entry.program;
    }
    std::size_t const all = std::size(kinds) + 1;
    now.is = here == all               ? MenuNow::Is::here
             : absent == all           ? MenuNow::Is::none
             : absent == 0 && !now.elsewhere.empty() ? MenuNow::Is::elsewhere
                                                     : MenuNow::Is::part;
    if (now.is != MenuNow::Is::elsewhere) now.elsewhere.clear();
    return now;
}

namespace {

// Whether a step of a change failed: it keeps the step's error, and where it was.
bool failed(MenuChange& change, Error error, std::wstring_view place, std::wstring_view name) {
    change.error = error;
    if (error != 0) change.failed_at = std::wstring(place) + std::wstring(name);
    return error != 0;
}

constexpr std::wstring_view in_registry = L"HKEY_CURRENT_USER\\", in_send_to = L"Send to: ";

}  // namespace

MenuChange add_menu(MenuPlaces& places, std::wstring_view program) {
    MenuChange change;
    for (const MenuValue& value : menu_values(program)) {
        if (places.value(value.key, value.name) == value.text) continue;
        if (failed(change, places.set_value(value.key, value.name, value.text), in_registry, value.key)) return change;
        change.changed = true;
    }
    std::wstring const name = menu_shortcut();
    if (places.shortcut(name) != program) {
        if (failed(change, places.make_shortcut(name, std::wstring(program)), in_send_to, name)) return change;
        change.changed = true;
    }
    if (change.changed) places.menus_changed();
    return change;
}

MenuChange remove_menu(MenuPlaces& places) {
    MenuChange change;
    // The values and keys are the same whatever program the entries name.
    for (const MenuValue& value : menu_values(L"")) {
        bool const there = places.value(value.key, value.name).has_value();
        if (failed(change, places.remove_value(value.key, value.name), in_registry, value.key)) return change;
        change.changed = change.changed || there;
    }
    for (const std::wstring& key : menu_keys()) {
        if (failed(change, places.remove_key_if_empty(key), in_registry, key)) return change;
    }
    std::wstring const name = menu_shortcut();
    if (places.shortcut(name)) {
        if (failed(change, places.remove_shortcut(name), in_send_to, name)) return change;
        change.changed = true;
    }
    if (change.changed) places.menus_changed();
    return change;
}

bool offer_menu(MenuPlaces& places, std::wstring_view program, const std::function<std::optional<std::wstring>()>& answer,
                const std::function<void(const std::wstring&)>& say) {
    std::wstring const entry = L"\"" + entry_name + L"\"";
    const auto say_now = [&] {
        MenuNow const now = menu_now(places, program);
        switch (now.is) {
        case MenuNow::Is::none: say(L"Now the right-click menu has no " + entry + L"."); break;
        case MenuNow::Is::here:
            say(L"Now the right-click menu of folders and .wav files has\n" + entry + L", and so has its Send to menu.");
            break;
        case MenuNow::Is::elsewhere:
            say(L"Now the right-click menu has " + entry + L" for a program\nin another folder:\n  " + now.elsewhere);
            break;
        case MenuNow::Is::part: say(L"Now the right-click menu has only a part of " + entry + L"."); break;
        }
    };
    say(L"");
    say_now();
    say(L"Type A and Enter to add it to the right-click menu of folders and .wav files,\n"
        L"R and Enter to take it away, or just Enter to close.");
    for (;;) {
        std::optional<std::wstring> const line = answer();
        if (!line) return false;
        std::wstring_view typed = *line;
        while (!typed.empty() && (typed.front() == L' ' || typed.front() == L'\t')) typed.remove_prefix(1);
        while (!typed.empty() && (typed.back() == L' ' || typed.back() == L'\t')) typed.remove_suffix(1);
        if (typed.empty()) return false;
        bool const add = typed == L"A" || typed == L"a";
        if (!add && typed != L"R" && typed != L"r") {
            say(L"Type A, R or nothing, then Enter.");
            continue;
        }
        MenuChange const change = add ? add_menu(places, program) : remove_menu(places);
        say(L"");
        if (change.error != 0) {
            say(std::wstring(add ? L"Could not add it: " : L"Could not take it away: ") + places.error_text(change.error) +
                L"\n  " + change.failed_at);
            say_now();
        } else if (add && change.changed) {
            say(L"Added. Right-click a folder or a .wav file and choose\n" + entry +
                L", under \"Show more options\" on Windows 11;\nfor several at once, Send to, then " + entry +
                L".\nIt runs this program where it is now:\n  " + std::wstring(program) +
                L"\nIf you move its folder, type A there again; type R before you delete it.");
        } else if (add) {
            say(entry + L" was there already, for this program:\nnothing changed.");
        } else if (change.changed) {
            say(L"Took " + entry + L" away from the right-click menu\nand from Send to.");
        } else {
            say(L"There was no " + entry + L" to take away; nothing changed.");
        }
        return true;
    }
}

}  // namespace drop

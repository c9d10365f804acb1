// The right-click entries of menu.hpp in Windows: the current user's registry keys, the shortcut
// in the user's Send To folder (a shell link, made and read through COM), and the window that
// offers them.
#include <windows.h>
// After windows.h, which they need.
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <vector>

#include "menu.hpp"
#include "output.hpp"
#include "output_windows.hpp"
#include "paths.hpp"

namespace drop {

namespace {

// A COM interface pointer, released at the end of its scope. Each interface and class is named by
// __uuidof: the constants of libuuid would bring every GUID it has with them.
template <class Interface>
struct Com {
    Interface* pointer = nullptr;
    Com() = default;
    Com(const Com&) = delete;
    Com& operator=(const Com&) = delete;
    ~Com() {
        if (pointer != nullptr) pointer->Release();
    }
    Interface* operator->() const { return pointer; }
};

Error from_hresult(HRESULT result) {
    return HRESULT_FACILITY(result) == FACILITY_WIN32 ? static_cast<Error>(HRESULT_CODE(result)) : static_cast<Error>(result);
}

// The calls of COM and of the shell, from ole32.dll and shell32.dll, which are loaded only when
// the entries are offered: a drop never needs them, and loading them, with the window system
// that shell32 brings, would make each drop start slower (by 13 ms under Wine). Each is null
// where it cannot be had, and `error` says why.
struct ShellCalls {
    decltype(&CoInitializeEx) initialize = nullptr;
    decltype(&CoUninitialize) uninitialize = nullptr;
    decltype(&CoCreateInstance) create = nullptr;
    decltype(&SHGetFolderPathW) folder_path = nullptr;
    decltype(&SHChangeNotify) notify = nullptr;
    Error error = 0;

    ShellCalls() {
        HMODULE const ole32 = load(L"ole32.dll"), shell32 = load(L"shell32.dll");
        if (ole32 == nullptr || shell32 == nullptr) return;
        find(ole32, "CoInitializeEx", initialize);
        find(ole32, "CoUninitialize", uninitialize);
        find(ole32, "CoCreateInstance", create);
        find(shell32, "SHGetFolderPathW", folder_path);
        find(shell32, "SHChangeNotify", notify);
    }

private:
    // From the system's folder, never from the program's own.
    HMODULE load(const wchar_t* name) {
        std::wstring path(MAX_PATH, L'\0');
        UINT const size = GetSystemDirectoryW(path.data(), MAX_PATH);
        path.resize(size < MAX_PATH ? size : 0);
        HMODULE const module = path.empty() ? nullptr : LoadLibraryW((path + L"\\" + name).c_str());
        if (module == nullptr && error == 0) error = path.empty() ? ERROR_PATH_NOT_FOUND : GetLastError();
        return module;
    }
    template <class Call>
    void find(HMODULE module, const char* name, Call& call) {
        // Through void (*)(), which may be cast to any function's type.
        call = reinterpret_cast<Call>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
        if (call == nullptr && error == 0) error = GetLastError();
    }
};

class ExplorerPlaces final : public MenuPlaces {
public:
    ExplorerPlaces()
        : com_(shell_.initialize != nullptr &&
               SUCCEEDED(shell_.initialize(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) {}
    ExplorerPlaces(const ExplorerPlaces&) = delete;
    ExplorerPlaces& operator=(const ExplorerPlaces&) = delete;
    ~ExplorerPlaces() override {
        if (com_ && shell_.uninitialize != nullptr) shell_.uninitialize();
    }

    std::optional<std::wstring> value(const std::wstring& key, const std::wstring& name) override {
        for (;;) {
            DWORD size = 0;
            if (RegGetValueW(HKEY_CURRENT_USER, key.c_str(), name.c_str(), RRF_RT_REG_SZ, nullptr, nullptr, &size) != ERROR_SUCCESS) {
                return std::nullopt;
            }
            std::wstring text(size / sizeof(wchar_t), L'\0');
            LSTATUS const status =
                RegGetValueW(HKEY_CURRENT_USER, key.c_str(), name.c_str(), RRF_RT_REG_SZ, nullptr, text.data(), &size);
            if (status == ERROR_MORE_DATA) continue;  // it grew meanwhile
            if (status != ERROR_SUCCESS) return std::nullopt;
            text.resize(size / sizeof(wchar_t));
            while (!text.empty() && text.back() == L'\0') text.pop_back();
            return text;
        }
    }

    Error set_value(const std::wstring& key, const std::wstring& name, const std::wstring& text) override {
        HKEY handle = nullptr;
        LSTATUS status = RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                                         nullptr, &handle, nullptr);
        if (status != ERROR_SUCCESS) return static_cast<Error>(status);
        status = RegSetValueExW(handle, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(handle);
        return static_cast<Error>(status);
    }

    Error remove_value(const std::wstring& key, const std::wstring& name) override {
        LSTATUS const status = RegDeleteKeyValueW(HKEY_CURRENT_USER, key.c_str(), name.c_str());
        return status == ERROR_FILE_NOT_FOUND ? 0 : static_cast<Error>(status);
    }

    Error remove_key_if_empty(const std::wstring& key) override {
        HKEY handle = nullptr;
        LSTATUS status = RegOpenKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, KEY_QUERY_VALUE, &handle);
        if (status == ERROR_FILE_NOT_FOUND) return 0;
        if (status != ERROR_SUCCESS) return static_cast<Error>(status);
        DWORD keys = 0, values = 0;
        status = RegQueryInfoKeyW(handle, nullptr, nullptr, nullptr, &keys, nullptr, nullptr, &values, nullptr, nullptr,
                                  nullptr, nullptr);
        RegCloseKey(handle);
        if (status != ERROR_SUCCESS) return static_cast<Error>(status);
        if (keys != 0 || values != 0) return 0;
        status = RegDeleteKeyW(HKEY_CURRENT_USER, key.c_str());
        return status == ERROR_FILE_NOT_FOUND ? 0 : static_cast<Error>(status);
    }

    std::optional<std::wstring> shortcut(const std::wstring& name) override {
        std::wstring const path = send_to(false) + L"\\" + name;
        if (path.size() == name.size() + 1 || GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) return std::nullopt;
        Com<IShellLinkW> link;
        Com<IPersistFile> file;
        if (shell_.create == nullptr ||
            FAILED(shell_.create(__uuidof(ShellLink), nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&link.pointer))) ||
            FAILED(link->QueryInterface(IID_PPV_ARGS(&file.pointer))) || FAILED(file->Load(path.c_str(), STGM_READ))) {
            return std::wstring();
        }
        std::vector<wchar_t> target(32768, L'\0');
        if (link->GetPath(target.data(), static_cast<int>(target.size()), nullptr, SLGP_RAWPATH) != S_OK) return std::wstring();
        return std::wstring(target.data());
    }

    Error make_shortcut(const std::wstring& name, const std::wstring& program) override {
        if (shell_.create == nullptr) return shell_.error;
        std::wstring const folder = send_to(true);
        if (folder.empty()) return ERROR_PATH_NOT_FOUND;
        Com<IShellLinkW> link;
        Com<IPersistFile> file;
        HRESULT result = shell_.create(__uuidof(ShellLink), nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&link.pointer));
        if (SUCCEEDED(result)) result = link->SetPath(program.c_str());
        if (SUCCEEDED(result)) result = link->QueryInterface(IID_PPV_ARGS(&file.pointer));
        if (SUCCEEDED(result)) result = file->Save((folder + L"\\" + name).c_str(), TRUE);
        return SUCCEEDED(result) ? 0 : from_hresult(result);
    }

    Error remove_shortcut(const std::wstring& name) override {
        if (shell_.folder_path == nullptr) return shell_.error;
        std::wstring const folder = send_to(false);
        if (folder.empty() || DeleteFileW((folder + L"\\" + name).c_str())) return 0;
        DWORD const error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? 0 : error;
    }

    void menus_changed() override {
        if (shell_.notify != nullptr) shell_.notify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
    }

    std::wstring error_text(Error error) override { return system_text(error); }

private:
    ShellCalls shell_;
    bool com_;

    // The user's Send To folder, made where it is not there when `make`; empty where there is none.
    // Asked by its number, not its GUID, whose constant would come from libuuid with every other.
    std::wstring send_to(bool make) {
        wchar_t path[MAX_PATH];
        int const folder = CSIDL_SENDTO | (make ? CSIDL_FLAG_CREATE : 0);
        if (shell_.folder_path == nullptr) return L"";
        return SUCCEEDED(shell_.folder_path(nullptr, folder, nullptr, SHGFP_TYPE_CURRENT, path)) ? path : L"";
    }
};

// This program's own full path, as Windows started it.
std::wstring own_path() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD const size = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (size == 0) return {};
        if (size < path.size()) {
            path.resize(size);
            return shown(path);
        }
        path.resize(path.size() * 2);
    }
}

}  // namespace

bool offer_menu_in_window() {
    ExplorerPlaces places;
    return offer_menu(places, own_path(), read_console_line, [](const std::wstring& line) {
        say(line);
        flush_lines();
    });
}

}  // namespace drop

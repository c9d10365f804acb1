// shell_run.exe CLASS VERB ITEM | shell_run.exe SHORTCUT ITEM...: runs a right-click entry as
// File Explorer runs it, through the shell: the verb VERB of the current user's class CLASS
// (HKEY_CURRENT_USER\Software\Classes\CLASS) on ITEM, its command line filled in by the shell;
// or the shortcut SHORTCUT with the ITEMs as its arguments, as Send to passes what is chosen.
// Waits for the program started and exits with its status (Wine gives none for a shortcut: then
// 0 once it is started); 2 when none could be started.
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <cstdio>
#include <string>

int wmain(int argc, wchar_t* argv[]) {
    if (argc < 3) {
        std::fputs("usage: shell_run.exe CLASS VERB ITEM | shell_run.exe SHORTCUT ITEM...\n", stderr);
        return 2;
    }
    SHELLEXECUTEINFOW run{};
    run.cbSize = sizeof run;
    run.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    run.nShow = SW_SHOWNORMAL;
    HKEY key = nullptr;
    std::wstring items;
    if (argc == 4 && !std::wstring_view(argv[1]).ends_with(L".lnk")) {
        std::wstring const name = std::wstring(L"Software\\Classes\\") + argv[1];
        if (RegOpenKeyExW(HKEY_CURRENT_USER, name.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
            std::fputs("shell_run: no such class\n", stderr);
            return 2;
        }
        run.fMask |= SEE_MASK_CLASSKEY;
        run.hkeyClass = key;
        run.lpVerb = argv[2];
        run.lpFile = argv[3];
    } else {
        run.lpFile = argv[1];
        for (int i = 2; i < argc; ++i) items.append(i == 2 ? L"\"" : L" \"").append(argv[i]).append(L"\"");
        run.lpParameters = items.c_str();
    }
    if (!ShellExecuteExW(&run)) {
        std::fprintf(stderr, "shell_run: nothing started (error %lu)\n", GetLastError());
        return 2;
    }
    if (run.hProcess == nullptr) return 0;  // started through the shortcut's menu, which gives no process
    WaitForSingleObject(run.hProcess, INFINITE);
    DWORD status = 2;
    GetExitCodeProcess(run.hProcess, &status);
    return static_cast<int>(status);
}

#include "convert.hpp"

#include <windows.h>

#include <optional>
#include <string_view>
#include <utility>

#include "output.hpp"
#include "paths.hpp"

namespace drop {

namespace {

// A folder of converted copies that this drop has made ready: leftovers removed, and its lock
// held open until the drop ends.
struct Folder {
    std::wstring path;
    HANDLE lock;
};

// What the conversion of all jobs keeps track of.
struct Session {
    const std::wstring& tool;
    DWORD process_id;
    std::uint64_t copies_made;    // numbers the temporary copies
    std::vector<Folder> folders;  // folders of copies made ready
    std::wstring made;            // the last folder of a copy known to exist
    std::size_t done, total;      // jobs ended, of all
    Counts& counts;
    std::optional<std::wstring> title;  // the console window's title before the drop
};

// A quoxel.exe at work on the temporary copy of one job.
struct Run {
    const Job* job;
    std::wstring copy;  // extended
    HANDLE process;
    HANDLE report;     // the read end of the pipe that is its standard error
    std::string text;  // what it has written there so far
};

constexpr std::size_t report_room = 4096;  // the tool writes one short line; more is cut off

enum class Verdict { converted, skipped, failed };

// Ends `job` with its numbered line, after `report`, what the tool wrote, for a failure.
void end(Session& session, const Job& job, Verdict verdict, std::wstring_view why = {}, std::string_view report = {}) {
    ++session.done;
    std::wstring const progress = L"[" + std::to_wstring(session.done) + L"/" + std::to_wstring(session.total) + L"] ";
    std::wstring line = progress;
    line += verdict == Verdict::converted ? L"converted: " : verdict == Verdict::skipped ? L"skipped: " : L"failed: ";
    line += job.shown;
    if (!why.empty()) line.append(L" (").append(why).append(L")");
    line += L"\r\n";
    DWORD const which = verdict == Verdict::failed ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE;
    if (!report.empty()) {
        write_utf8(which, report);
        if (!report.ends_with('\n')) write(which, L"\r\n");
    }
    write(which, line);
    switch (verdict) {
    case Verdict::converted: ++session.counts.converted; break;
    case Verdict::skipped: ++session.counts.skipped; break;
    case Verdict::failed: ++session.counts.failed; break;
    }
    if (session.title) set_console_title(progress + *session.title);
}

// Removes the temporary `copy`, then ends `job` as failed for `why`, naming the copy too when it
// could not be removed.
void end_discarding(Session& session, const Job& job, const std::wstring& copy, std::wstring why,
                    std::string_view report = {}) {
    if (!DeleteFileW(copy.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) {
        why += L"; the temporary copy " + shown(copy) + L" stays: " + system_text(GetLastError());
    }
    end(session, job, Verdict::failed, why, report);
}

// Whether the file at the place of `job`'s copy is that of a case twin before it: a name that
// differs in letter case, which this folder of copies took for the same name.
bool taken_by_twin(const Job& job) {
    if (!job.case_twin) return false;
    std::wstring const target = join(job.copies, job.relative);
    WIN32_FIND_DATAW entry;
    HANDLE const found = FindFirstFileExW(target.c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr, 0);
    if (found == INVALID_HANDLE_VALUE) return false;
    FindClose(found);
    return last_component(target) != entry.cFileName;
}

std::wstring taken_by_twin_why(const Job& job) {
    return L"converted\\" + job.relative +
           L" is the copy of a file whose name differs only in letter case, and converted cannot hold both";
}

// The folder `folder` (extended), made if it is not there; `shown_as` names it in `why` when it
// cannot be made or is a file.
bool make_folder(const std::wstring& folder, const std::wstring& shown_as, std::wstring& why) {
    if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        why = L"cannot make the folder " + shown_as + L": " + system_text(GetLastError());
        return false;
    }
    DWORD const attributes = GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        why = shown_as + L" is a file, not a folder";
        return false;
    }
    return true;
}

// Whether the drop with process id `owner` is still at work in the folder of copies `copies`: its
// lock is open, so that the lock cannot be deleted. A lock that is not open is one left by a drop
// that ended, and goes.
bool at_work(const std::wstring& copies, DWORD owner) {
    if (DeleteFileW(join(copies, lock_name(owner)).c_str())) return false;
    DWORD const error = GetLastError();
    return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
}

// Makes the folder of copies `copies` ready for this drop, once: made if needed, cleared of the
// temporary copies that drops which ended before their work left there, each named in a line,
// and locked while this drop is at work in it.
bool make_ready(Session& session, const std::wstring& copies, std::wstring& why) {
    for (const Folder& folder : session.folders) {
        if (folder.path == copies) return true;
    }
    if (!make_folder(copies, shown(copies), why)) return false;

    WIN32_FIND_DATAW entry;
    HANDLE const listing = FindFirstFileExW(join(copies, L"quoxel-*.tmp").c_str(), FindExInfoBasic, &entry,
                                            FindExSearchNameMatch, nullptr, 0);
    if (listing != INVALID_HANDLE_VALUE) {
        do {
            std::optional<std::uint32_t> const owner = temporary_owner(entry.cFileName);
            if (!owner || at_work(copies, *owner)) continue;
            std::wstring const leftover = join(copies, entry.cFileName);
            if (DeleteFileW(leftover.c_str())) {
                write(STD_OUTPUT_HANDLE, L"removed: " + shown(leftover) +
                                             L" (a temporary copy left by a drop that was closed or stopped)\r\n");
            }
        } while (FindNextFileW(listing, &entry));
        FindClose(listing);
    }

    // Open without sharing, so that no other drop can delete it, and deleted when this drop's
    // last handle closes, also when it is killed.
    HANDLE const lock = CreateFileW(join(copies, lock_name(session.process_id)).c_str(), GENERIC_WRITE, 0, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (lock == INVALID_HANDLE_VALUE) {
        why = L"cannot write in " + shown(copies) + L": " + system_text(GetLastError());
        return false;
    }
    session.folders.push_back({copies, lock});
    return true;
}

// Makes every folder between `copies` and the copy's own folder `folder` (both extended).
bool make_mirror(Session& session, const std::wstring& copies, const std::wstring& folder, std::wstring& why) {
    if (folder == session.made || folder == copies) return true;
    DWORD const attributes = GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        std::wstring path = copies;
        std::wstring_view rest = std::wstring_view(folder).substr(copies.size() + 1);
        while (!rest.empty()) {
            std::size_t const end = rest.find(L'\\');
            path = join(path, rest.substr(0, end));
            if (!make_folder(path, L"converted\\" + path.substr(copies.size() + 1), why)) return false;
            rest.remove_prefix(end == std::wstring_view::npos ? rest.size() : end + 1);
        }
    }
    session.made = folder;
    return true;
}

// Starts the conversion of a copy of `job`'s file; or ends the job at once when its copy exists,
// or when it cannot start.
std::optional<Run> start(Session& session, const Job& job) {
    std::wstring const target = join(job.copies, job.relative);
    std::wstring const copy_shown = L"converted\\" + job.relative;
    DWORD const attributes = GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            end(session, job, Verdict::failed, copy_shown + L" is a folder, not a converted copy");
        } else if (taken_by_twin(job)) {
            end(session, job, Verdict::failed, taken_by_twin_why(job));
        } else {
            end(session, job, Verdict::skipped, L"already converted: " + copy_shown + L" exists");
        }
        return std::nullopt;
    }

    std::wstring why;
    if (!make_ready(session, job.copies, why) || !make_mirror(session, job.copies, std::wstring(parent(target)), why)) {
        end(session, job, Verdict::failed, why);
        return std::nullopt;
    }
    // The copy is made in the top folder of copies, whose path is the shortest, and under a name
    // that no file of the tree has: the process id and a number make it unique.
    std::wstring const copy = join(job.copies, temporary_name(session.process_id, ++session.copies_made));
    if (!CopyFileW(job.source.c_str(), copy.c_str(), FALSE)) {
        end_discarding(session, job, copy, L"cannot copy it into converted: " + system_text(GetLastError()));
        return std::nullopt;
    }
    // CopyFileW copies the read-only attribute too, and the tool opens the copy for update.
    DWORD const copy_attributes = GetFileAttributesW(copy.c_str());
    if (copy_attributes == INVALID_FILE_ATTRIBUTES ||
        !SetFileAttributesW(copy.c_str(), copy_attributes & ~DWORD{FILE_ATTRIBUTE_READONLY})) {
        end_discarding(session, job, copy, L"cannot make its copy writable: " + system_text(GetLastError()));
        return std::nullopt;
    }

    // The tool's standard output and error go into a pipe of its own, so that its report is
    // written just before this file's line, never among the lines of another file.
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    HANDLE report = nullptr, report_end = nullptr;
    if (!CreatePipe(&report, &report_end, &inheritable, 0) || !SetHandleInformation(report, HANDLE_FLAG_INHERIT, 0)) {
        end_discarding(session, job, copy, L"cannot start quoxel.exe: " + system_text(GetLastError(), L"quoxel.exe"));
        return std::nullopt;
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = report_end;
    startup.hStdError = report_end;
    PROCESS_INFORMATION process{};
    std::wstring command = command_line(session.tool, copy);
    bool const started = CreateProcessW(session.tool.c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                        nullptr, &startup, &process);
    DWORD const error = GetLastError();
    CloseHandle(report_end);  // the tool's copy is the only one left, so no other tool inherits it
    if (!started) {
        CloseHandle(report);
        end_discarding(session, job, copy, L"cannot start quoxel.exe: " + system_text(error, L"quoxel.exe"));
        return std::nullopt;
    }
    CloseHandle(process.hThread);
    return Run{&job, copy, process.hProcess, report, {}};
}

// Reads what `run`'s tool has written so far, without waiting, so that a full pipe never holds
// the tool up.
void drain(Run& run) {
    DWORD available = 0;
    while (PeekNamedPipe(run.report, nullptr, 0, nullptr, &available, nullptr) && available > 0) {
        char buffer[4096];
        DWORD read = 0;
        if (!ReadFile(run.report, buffer, available < sizeof buffer ? available : sizeof buffer, &read, nullptr))
            return;
        run.text.append(buffer, read < report_room - run.text.size() ? read : report_room - run.text.size());
    }
}

// Ends the job of `run`, whose tool has exited: the copy takes its own name after status 0, and
// is removed otherwise.
void finish(Session& session, Run& run) {
    drain(run);
    DWORD status = 1;
    bool const exited = GetExitCodeProcess(run.process, &status);
    DWORD const error = GetLastError();
    CloseHandle(run.process);
    CloseHandle(run.report);
    const Job& job = *run.job;
    if (!exited)
        return end_discarding(session, job, run.copy, L"cannot tell how quoxel.exe ended: " + system_text(error));
    if (status != 0) {
        return end_discarding(session, job, run.copy,
                              L"quoxel.exe stopped with " + exit_status(status) + L"; no copy kept", run.text);
    }
    std::wstring const target = join(job.copies, job.relative);
    if (MoveFileExW(run.copy.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH))
        return end(session, job, Verdict::converted);
    DWORD const move_error = GetLastError();
    if (move_error == ERROR_ALREADY_EXISTS || move_error == ERROR_FILE_EXISTS) {
        // Made meanwhile: by the case twin before it, or by another drop of the same file.
        if (taken_by_twin(job)) return end_discarding(session, job, run.copy, taken_by_twin_why(job));
        DeleteFileW(run.copy.c_str());
        return end(session, job, Verdict::skipped, L"already converted: converted\\" + job.relative + L" exists");
    }
    end_discarding(session, job, run.copy, L"cannot name the converted copy: " + system_text(move_error));
}

// Waits until one of `runs` ends, and ends its job.
void wait_for_one(Session& session, std::vector<Run>& runs) {
    std::vector<HANDLE> processes;
    for (const Run& run : runs) processes.push_back(run.process);
    for (;;) {
        DWORD const which = WaitForMultipleObjects(static_cast<DWORD>(processes.size()), processes.data(), FALSE, 100);
        for (Run& run : runs) drain(run);
        std::size_t const index = which - WAIT_OBJECT_0;
        if (which == WAIT_FAILED) {
            // Only a fault of this program makes the wait itself fail: the first run is stopped
            // and its job ended as failed, so that the others still end.
            DWORD const error = GetLastError();
            Run& first = runs.front();
            TerminateProcess(first.process, 1);
            WaitForSingleObject(first.process, INFINITE);
            CloseHandle(first.process);
            CloseHandle(first.report);
            end_discarding(session, *first.job, first.copy, L"cannot wait for quoxel.exe: " + system_text(error));
            runs.erase(runs.begin());
            return;
        }
        if (index < runs.size()) {
            finish(session, runs[index]);
            runs.erase(runs.begin() + static_cast<std::ptrdiff_t>(index));
            return;
        }
    }
}

}  // namespace

void convert(const std::vector<Job>& jobs, const std::wstring& tool, std::size_t at_once, Counts& counts) {
    Session session{tool, GetCurrentProcessId(), 0, {}, {}, 0, jobs.size(), counts, console_title()};
    if (at_once > MAXIMUM_WAIT_OBJECTS) at_once = MAXIMUM_WAIT_OBJECTS;
    // The case twins last, so that the copy of the first of each pair exists when its twin starts.
    for (bool const twins : {false, true}) {
        std::vector<Run> runs;
        for (const Job& job : jobs) {
            if (job.case_twin != twins) continue;
            while (runs.size() >= at_once) wait_for_one(session, runs);
            if (std::optional<Run> run = start(session, job)) runs.push_back(std::move(*run));
        }
        while (!runs.empty()) wait_for_one(session, runs);
    }
    for (const Folder& folder : session.folders) CloseHandle(folder.lock);
    if (session.title) set_console_title(*session.title);
}

}  // namespace drop

#include "convert.hpp"

#include <windows.h>

#include <optional>
#include <string_view>

#include "files_windows.hpp"
#include "output_windows.hpp"
#include "paths.hpp"

namespace drop {

namespace {

enum class Verdict { converted, skipped, failed, not_done };

// How one job ended, as its line says it.
struct Ended {
    Verdict verdict;
    std::wstring why;
};

// A folder of converted copies that this drop has made ready: leftovers removed, and its lock
// held open until the drop ends; or why it cannot be used.
struct Folder {
    std::wstring path;
    HANDLE lock;
    std::wstring problem;
};

// What the conversion of all jobs keeps track of.
struct Session {
    DWORD process_id;
    std::atomic<std::uint64_t> copies_made;  // numbers the temporary copies
    std::vector<Folder> folders;             // folders of copies made ready
    std::size_t done, total;                 // jobs ended, of all
    Counts& counts;
    std::vector<std::wstring>& failures;
    std::optional<std::wstring> title;  // the console window's title before the drop
};

// Ends `job` with its numbered line.
void end(Session& session, const Job& job, const Ended& ended) {
    ++session.done;
    std::wstring const progress = L"[" + std::to_wstring(session.done) + L"/" + std::to_wstring(session.total) + L"] ";
    const wchar_t* const word = ended.verdict == Verdict::converted ? L"converted: "
                                : ended.verdict == Verdict::skipped ? L"skipped: "
                                : ended.verdict == Verdict::failed  ? L"failed: "
                                                                    : L"not done: ";
    std::wstring line = word + job.shown;
    if (!ended.why.empty()) line.append(L" (").append(ended.why).append(L")");
    write(ended.verdict == Verdict::failed ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE, progress + line + L"\r\n");
    switch (ended.verdict) {
    case Verdict::converted: ++session.counts.converted; break;
    case Verdict::skipped: ++session.counts.skipped; break;
    case Verdict::failed:
        ++session.counts.failed;
        session.failures.push_back(line);
        break;
    case Verdict::not_done: ++session.counts.not_done; break;
    }
    if (session.title) set_console_title(progress + *session.title);
}

// Whether the file at the place of `job`'s copy is that of a case twin before it: a path whose
// names, folders included, differ from the job's only in letter case, which this folder of copies
// took for the same path.
bool taken_by_twin(const Job& job) {
    if (!job.case_twin) return false;
    std::wstring const real = final_path(join(job.copies, job.relative));
    return !real.empty() && !real.ends_with(L"\\" + job.relative);
}

std::wstring taken_by_twin_why(const Job& job) {
    return L"converted\\" + job.relative +
           L" is the copy of a file whose path differs only in letter case, and converted cannot hold both";
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

// Removes from the folder of copies `copies` the temporary copies of drops that ended before
// their work, each named in a line.
void remove_leftovers(const std::wstring& copies) {
    WIN32_FIND_DATAW entry;
    HANDLE const listing = FindFirstFileExW(join(copies, L"quoxel-*.tmp").c_str(), FindExInfoBasic, &entry,
                                            FindExSearchNameMatch, nullptr, 0);
    if (listing == INVALID_HANDLE_VALUE) return;
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

// Makes the folder of copies `copies` ready for this drop: made if needed, cleared of leftovers,
// and locked while this drop is at work in it.
Folder make_ready(const Session& session, const std::wstring& copies) {
    Folder folder{copies, INVALID_HANDLE_VALUE, {}};
    if (!make_folder(copies, shown(copies), folder.problem)) return folder;
    remove_leftovers(copies);
    // Open without sharing, so that no other drop can delete it, and deleted when this drop's
    // last handle closes, also when it is killed.
    folder.lock = CreateFileW(join(copies, lock_name(session.process_id)).c_str(), GENERIC_WRITE, 0, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (folder.lock == INVALID_HANDLE_VALUE) {
        folder.problem = L"cannot write in " + shown(copies) + L": " + system_text(GetLastError());
    }
    return folder;
}

// Makes every folder between `copies` and the copy's own folder `folder` (both extended). `made`
// is the last folder this thread knows to exist.
bool make_mirror(const std::wstring& copies, const std::wstring& folder, std::wstring& made, std::wstring& why) {
    if (folder == made || folder == copies) return true;
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
    made = folder;
    return true;
}

// Why the copy of a job failed at `outcome`'s step, with the system's texts.
std::wstring failure_why(const Outcome& outcome, const std::wstring& copy) {
    std::wstring why = from_utf8(step_words(outcome.step));
    if (outcome.step != Outcome::Step::too_short) why += L": " + system_text(outcome.error);
    if (outcome.left) why += L"; the temporary copy " + shown(copy) + L" stays: " + system_text(outcome.left_error);
    return why;
}

// The work of one job, on a thread of the pool.
Ended run(Session& session, const Job& job, const Folder& folder, std::span<std::uint8_t> buffer,
          const std::atomic<bool>& stop) {
    if (!folder.problem.empty()) return {Verdict::failed, folder.problem};
    std::wstring const target = join(job.copies, job.relative);
    std::wstring const copy_shown = L"converted\\" + job.relative;
    DWORD const attributes = GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
            return {Verdict::failed, copy_shown + L" is a folder, not a converted copy"};
        if (taken_by_twin(job)) return {Verdict::failed, taken_by_twin_why(job)};
        return {Verdict::skipped, L"already converted: " + copy_shown + L" exists"};
    }
    thread_local std::wstring made;
    std::wstring why;
    if (!make_mirror(job.copies, std::wstring(parent(target)), made, why)) return {Verdict::failed, why};

    // The copy is made in the top folder of copies, whose path is the shortest, and under a name
    // that no file of the tree has: the process id and a number make it unique.
    std::wstring const copy = join(job.copies, temporary_name(session.process_id, ++session.copies_made));
    Outcome const outcome = copy_converted(windows_files(), job.source, copy, target, buffer, stop);
    switch (outcome.step) {
    case Outcome::Step::done: return {Verdict::converted, {}};
    case Outcome::Step::stopped: return {Verdict::not_done, L"stopped; no copy kept"};
    case Outcome::Step::inside_copies: return {Verdict::skipped, L"a link to a converted copy"};
    case Outcome::Step::taken:
        // Made meanwhile: by the case twin before it, or by another drop of the same file.
        if (taken_by_twin(job)) return {Verdict::failed, taken_by_twin_why(job)};
        return {Verdict::skipped, L"already converted: " + copy_shown + L" exists"};
    default: return {Verdict::failed, failure_why(outcome, copy)};
    }
}

}  // namespace

void convert(const std::vector<Job>& jobs, const std::vector<std::wstring>& met, std::size_t threads,
             const std::atomic<bool>& stop, Counts& counts, std::vector<std::wstring>& failures) {
    Session session{GetCurrentProcessId(), 0, {}, 0, jobs.size(), counts, failures, console_title()};

    std::vector<std::size_t> const folder_of = prepare_folders(
        jobs, met, session.folders, [&](const Path& copies) { return make_ready(session, copies); },
        [](const Path& copies) { remove_leftovers(copies); });
    counts.not_done += run_twins_last<Ended>(
        jobs, threads, stop,
        [&](std::size_t i, std::span<std::uint8_t> buffer) {
            return run(session, jobs[i], session.folders[folder_of[i]], buffer, stop);
        },
        [&](std::size_t i, const Ended& ended) { end(session, jobs[i], ended); });
    for (const Folder& folder : session.folders) {
        if (folder.lock != INVALID_HANDLE_VALUE) CloseHandle(folder.lock);
    }
    if (session.title) set_console_title(*session.title);
}

}  // namespace drop

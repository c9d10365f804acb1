#include "paths.hpp"

namespace drop {

namespace {

constexpr std::wstring_view extended_prefix = L"\\\\?\\";
constexpr std::wstring_view unc_prefix = L"\\\\?\\UNC\\";

wchar_t lower(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

bool starts_with_ignoring_case(std::wstring_view text, std::wstring_view start) {
    return text.size() >= start.size() && same_ignoring_case(text.substr(0, start.size()), start);
}

// The length of the root of `path`, its separator included: "C:\", "\\?\C:\",
// "\\server\share\" or "\\?\UNC\server\share\"; 0 for a relative path.
std::size_t root_length(std::wstring_view path) {
    std::wstring_view rest = path;
    std::size_t prefix = 0;
    bool unc = false;
    if (starts_with_ignoring_case(path, unc_prefix)) {
        prefix = unc_prefix.size();
        unc = true;
    } else if (path.starts_with(extended_prefix) || path.starts_with(L"\\\\.\\")) {
        prefix = extended_prefix.size();
    } else if (path.starts_with(L"\\\\")) {
        prefix = 2;
        unc = true;
    }
    rest.remove_prefix(prefix);
    if (unc) {  // server, then share
        std::size_t const server_end = rest.find(L'\\');
        if (server_end == std::wstring_view::npos) return path.size();
        std::size_t const share_end = rest.find(L'\\', server_end + 1);
        return share_end == std::wstring_view::npos ? path.size() : prefix + share_end + 1;
    }
    if (rest.size() >= 2 && rest[1] == L':') return prefix + (rest.size() >= 3 && rest[2] == L'\\' ? 3 : 2);
    return prefix;
}

}  // namespace

bool same_ignoring_case(std::wstring_view a, std::wstring_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

bool is_wav(std::wstring_view name) {
    return name.size() >= 4 && same_ignoring_case(name.substr(name.size() - 4), L".wav");
}

bool is_converted_folder(std::wstring_view name) { return same_ignoring_case(name, L"converted"); }

bool inside_converted(std::wstring_view path, bool last_too) {
    path.remove_prefix(root_length(path));
    while (!path.empty()) {
        std::size_t const end = path.find(L'\\');
        bool const last = end == std::wstring_view::npos;
        if ((last_too || !last) && is_converted_folder(path.substr(0, end))) return true;
        path.remove_prefix(last ? path.size() : end + 1);
    }
    return false;
}

std::wstring_view last_component(std::wstring_view path) {
    std::size_t const root = root_length(path);
    std::size_t const slash = path.find_last_of(L'\\');
    return path.substr(slash == std::wstring_view::npos || slash < root ? root : slash + 1);
}

std::wstring_view parent(std::wstring_view path) {
    std::size_t const root = root_length(path);
    std::size_t const slash = path.find_last_of(L'\\');
    if (slash == std::wstring_view::npos || slash < root) return path.substr(0, root);
    return path.substr(0, slash);
}

std::wstring join(std::wstring_view folder, std::wstring_view name) {
    std::wstring path(folder);
    if (!path.empty() && !path.ends_with(L'\\')) path += L'\\';
    return path += name;
}

std::wstring extended(std::wstring_view full) {
    if (full.starts_with(extended_prefix) || full.starts_with(L"\\\\.\\")) return std::wstring(full);
    if (full.starts_with(L"\\\\")) return std::wstring(unc_prefix).append(full.substr(2));
    return std::wstring(extended_prefix).append(full);
}

std::wstring shown(std::wstring_view path) {
    if (starts_with_ignoring_case(path, unc_prefix))
        return std::wstring(L"\\\\").append(path.substr(unc_prefix.size()));
    if (path.starts_with(extended_prefix)) return std::wstring(path.substr(extended_prefix.size()));
    return std::wstring(path);
}

std::wstring temporary_name(std::uint32_t process, std::uint64_t number) {
    return L"quoxel-" + std::to_wstring(process) + L"-" + std::to_wstring(number) + L".tmp";
}

std::optional<std::uint32_t> temporary_owner(std::wstring_view name) {
    // quoxel-DIGITS-DIGITS.tmp, nothing else
    constexpr std::wstring_view start = L"quoxel-", end = L".tmp";
    if (!name.starts_with(start) || !name.ends_with(end)) return std::nullopt;
    name = name.substr(start.size(), name.size() - start.size() - end.size());
    std::size_t const dash = name.find(L'-');
    if (dash == 0 || dash == std::wstring_view::npos || dash + 1 == name.size() || dash > 10) return std::nullopt;
    std::uint64_t process = 0;
    for (std::size_t i = 0; i < name.size(); ++i) {
        wchar_t const c = name[i];
        if (i == dash) continue;
        if (c < L'0' || c > L'9') return std::nullopt;
        if (i < dash) process = process * 10 + static_cast<std::uint64_t>(c - L'0');
    }
    if (process > UINT32_MAX) return std::nullopt;
    return static_cast<std::uint32_t>(process);
}

std::wstring lock_name(std::uint32_t process) { return L"quoxel-" + std::to_wstring(process) + L".lock"; }

std::wstring filled(std::wstring_view text, std::wstring_view subject) {
    std::wstring out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != L'%' || i + 1 == text.size()) {
            out += text[i];
        } else if (text[i + 1] == L'%') {
            out += L'%';
            ++i;
        } else if (text[i + 1] >= L'1' && text[i + 1] <= L'9') {
            out += subject;
            ++i;
            // A format after the number, as in %1!s!, goes with it.
            if (i + 1 < text.size() && text[i + 1] == L'!') {
                std::size_t const close = text.find(L'!', i + 2);
                if (close != std::wstring_view::npos) i = close;
            }
        } else {
            out += text[i];
        }
    }
    return out;
}

}  // namespace drop

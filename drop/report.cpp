#include "report.hpp"

#include <cstdio>
#include <ctime>

#include "output.hpp"
#include "paths.hpp"

namespace drop {

Path report_name(const Moment& moment, unsigned attempt) {
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "quoxel report %04d-%02d-%02d %02d-%02d-%02d", moment.year, moment.month,
                  moment.day, moment.hour, moment.minute, moment.second);
    std::string name = stamp;
    if (attempt > 1) name += " (" + std::to_string(attempt) + ")";
    return text(name + ".txt");
}

Error write_report(Files& files, const Folder& folder, const std::function<std::vector<Path>(const Path&)>& content,
                   Path& name) {
    // The moment on the thread that ends the drop, alone by then: localtime's buffer is shared.
    std::time_t const now = std::time(nullptr);
    std::tm const local = *std::localtime(&now);
    Moment const moment{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec};
    Handle file = no_handle;
    Error error = 0;
    for (unsigned attempt = 1; attempt <= 100; ++attempt) {
        name = report_name(moment, attempt);
        if ((error = files.create(folder, name, 0666, file)) == 0 || !files.exists(error)) break;
    }
    if (error != 0) return error;
    Path lines;
    for (const Path& line : content(readable(join(folder.path, name)))) lines.append(line).push_back(Path::value_type{'\n'});
    std::string const bytes = file_text(lines);
    error = files.write(file, std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
    if (Error const closed = files.close(file); error == 0) error = closed;
    return error;
}

}  // namespace drop

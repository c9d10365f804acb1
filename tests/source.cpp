#include "source.hpp"

#include <fstream>
#include <regex>
#include <stdexcept>

namespace {

// The project's source file `source`. Under Wine a path that begins with / names the same file
// on the drive that maps the root.
std::ifstream open_source(const std::string& source) {
    std::ifstream in(std::string(QUOXEL_SOURCE_DIR) + "/" + source);
    if (!in) throw std::runtime_error("cannot read " + std::string(QUOXEL_SOURCE_DIR) + "/" + source);
    return in;
}

}  // namespace

std::vector<ReportSite> report_sites(const std::string& source) {
    static const std::regex definition(R"(^[A-Za-z\[].*\b([A-Za-z_][A-Za-z0-9_]*)\(.*\) \{$)");
    static const std::regex report(R"re(report_(call_error|transfer_error|error_message)\("([^"]+)")re");
    std::ifstream in = open_source(source);
    std::vector<ReportSite> sites;
    const std::string name = source.substr(source.find_last_of('/') + 1);  // as a report names it
    std::string text, function;
    std::smatch match;
    for (int line = 1; std::getline(in, text); ++line) {
        if (std::regex_match(text, match, definition)) function = match[1];
        if (std::regex_search(text, match, report)) sites.push_back({name, function, match[2], line});
    }
    return sites;
}

ReportSite report_site(const std::string& source, const std::string& function, const std::string& call, int nth) {
    for (const ReportSite& site : report_sites(source)) {
        if (site.function == function && site.call == call && --nth == 0) return site;
    }
    throw std::runtime_error(source + " has no such report of " + call + " in " + function);
}

std::size_t source_number(const std::string& source, const std::string& pattern) {
    const std::regex number(pattern);
    std::ifstream in = open_source(source);
    std::string text;
    std::smatch match;
    while (std::getline(in, text)) {
        if (std::regex_search(text, match, number)) return std::stoul(match[1]);
    }
    throw std::runtime_error(source + " has no line that matches " + pattern);
}

// The one matcher for failure report lines, for both suites: in EXPECT_THAT, and as the expected
// output of a death test.
#pragma once

#include <gtest/gtest.h>

#include <ostream>
#include <regex>
#include <string>

#include "source.hpp"

namespace report_line_detail {

// `text` with every ECMAScript regex metacharacter escaped, to match it literally in a pattern.
inline std::string escaped(const std::string& text) {
    return std::regex_replace(text, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)");
}

// Matches the whole of a text against an ECMAScript pattern; GoogleTest's own patterns are too
// simple on some platforms.
class WholeText : public testing::MatcherInterface<const std::string&> {
public:
    explicit WholeText(std::string pattern) : pattern_(std::move(pattern)) {}
    bool MatchAndExplain(const std::string& text, testing::MatchResultListener*) const override {
        return std::regex_match(text, std::regex(pattern_));
    }
    void DescribeTo(std::ostream* os) const override { *os << "is the whole line " << pattern_; }

private:
    std::string pattern_;
};

// `site`'s location, then `rest_pattern`, as the whole text.
inline testing::Matcher<const std::string&> whole(const ReportSite& site, const std::string& fields,
                                                  const std::string& rest_pattern) {
    return testing::MakeMatcher(new WholeText(escaped(site.source + ":" + std::to_string(site.line) + ":" + fields) +
                                              ": " + rest_pattern + "\n"));
}

}  // namespace report_line_detail

// The call report "<source>:<line>:<function>:<call>: <rest>\n" of the check at `site`, with
// `rest` word for word.
inline testing::Matcher<const std::string&> report_line(const ReportSite& site, const std::string& rest) {
    return report_line_detail::whole(site, site.function + ":" + site.call, report_line_detail::escaped(rest));
}

// The same, with any text on the rest of the line after `start`: for a system text that the
// platform chooses. The location is never left to the platform.
inline testing::Matcher<const std::string&> report_line_starting(const ReportSite& site, const std::string& start) {
    return report_line_detail::whole(site, site.function + ":" + site.call,
                                      report_line_detail::escaped(start) + "[^\n]+");
}

// The message report "<source>:<line>:<function>: <message>\n" of the check at `site`, whose
// message is the site's.
inline testing::Matcher<const std::string&> message_line(const ReportSite& site) {
    return report_line_detail::whole(site, site.function, report_line_detail::escaped(site.call));
}

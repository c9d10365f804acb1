// The one matcher for failure report lines, for both suites: in EXPECT_THAT, and as the expected
// output of a death test.
#pragma once

#include <gtest/gtest.h>

#include <ostream>
#include <regex>
#include <string>

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

inline testing::Matcher<const std::string&> whole(const std::string& source, const std::string& fields,
                                                  const std::string& rest_pattern) {
    return testing::MakeMatcher(
        new WholeText(escaped(source) + "\\.cpp:[1-9][0-9]*:" + escaped(fields) + ": " + rest_pattern + "\n"));
}

}  // namespace report_line_detail

// The call report "<source>.cpp:<line>:<function>:<call>: <rest>\n" of a check in `source`, at
// any line, with `rest` word for word.
inline testing::Matcher<const std::string&> report_line(const std::string& source, const std::string& function,
                                                       const std::string& call, const std::string& rest) {
    return report_line_detail::whole(source, function + ":" + call, report_line_detail::escaped(rest));
}

// The same, with any text on the rest of the line after `start`: for a system text that the
// platform chooses.
inline testing::Matcher<const std::string&> report_line_starting(const std::string& source,
                                                                const std::string& function,
                                                                const std::string& call, const std::string& start) {
    return report_line_detail::whole(source, function + ":" + call, report_line_detail::escaped(start) + "[^\n]+");
}

// The message report "<source>.cpp:<line>:<function>: <message>\n".
inline testing::Matcher<const std::string&> message_line(const std::string& source, const std::string& function,
                                                        const std::string& message) {
    return report_line_detail::whole(source, function, report_line_detail::escaped(message));
}

// Pure text rules of the session manager: comma text, dotted quads and the log line format.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mill/address.h"
#include "mill/comma_text.h"
#include "mill/log.h"

namespace qm {
namespace {

using Items = std::vector<std::string>;

TEST(CommaText, ParsesSeparatorsQuotesAndEmptyItems) {
    struct Case {
        std::string text;
        Items items;
    } cases[] = {
        {"", {}},
        {"a,b", {"a", "b"}},
        {"a, b", {"a", "b"}},
        {"a b", {"a", "b"}},
        {"  a\t,\r\n b  ", {"a", "b"}},
        {"a,,b", {"a", "", "b"}},
        {"a,", {"a", ""}},
        {",", {"", ""}},
        {"\"\"", {""}},
        {"\"x y\",z", {"x y", "z"}},
        {"\"say \"\"hi\"\"\"", {"say \"hi\""}},
        {"\"open", {"open"}},    // an unterminated quote takes the rest
        {"\"a\"b", {"a", "b"}},  // text after a closing quote starts the next item
        {"a\"b", {"a\"b"}},
        {std::string("a\0b", 3), {std::string("a\0b", 3)}},
    };
    for (const Case& c : cases) EXPECT_EQ(ParseCommaText(c.text), c.items) << "text: " << c.text;
}

TEST(CommaText, WritesQuotesOnlyWhereNeededAndRoundTrips) {
    EXPECT_EQ(CommaTextOf({}), "");
    EXPECT_EQ(CommaTextOf({""}), "\"\"");
    EXPECT_EQ(CommaTextOf({"10.0.0.1", "192.168.1.2"}), "10.0.0.1,192.168.1.2");
    EXPECT_EQ(CommaTextOf({"a b", "c,d", "e\"f", "g"}), "\"a b\",\"c,d\",\"e\"\"f\",g");
    const Items lists[] = {
        {},
        {""},
        {"", ""},
        {"a", "", "b"},
        {"", "a"},
        {"a", ""},
        {" lead", "trail ", "mid dle", "\"", ",", "\t"},
        {std::string("nul\0inside", 10), "x"},
        {"AbC==", "dEf=="},
    };
    for (const Items& items : lists) EXPECT_EQ(ParseCommaText(CommaTextOf(items)), items);
}

TEST(DottedQuad, AcceptsFourOctetsWithSurroundingSpacesOnly) {
    struct Case {
        const char* text;
        bool dotted;
    } cases[] = {
        {"10.0.0.1", true},
        {"  10.0.0.1  ", true},
        {"255.255.255.255", true},
        {"0.0.0.0", true},
        {"10.0.0.256", false},
        {"256.0.0.1", false},
        {"10.0.1", false},
        {"1.2.3.4.5", false},
        {"1..2.3", false},
        {"1.2.3.", false},
        {".1.2.3", false},
        {"  .1.2.3", false},
        {"a.b.c.d", false},
        {"1.2.3.4x", false},
        {"1.2.3.4 x", false},
        {"1.2.3.99999999999999999999", false},
        {"", false},
        {"localhost", false},
        {"\t1.2.3.4", false},
    };
    for (const Case& c : cases) EXPECT_EQ(IsDottedQuad(c.text), c.dotted) << "text: " << c.text;
}

TEST(LogLine, KeepsTheLastFourTickDigits) {
    EXPECT_EQ(FormatLogLine("14:03:27", 123, "x"), "14:03:27/123: x");
    EXPECT_EQ(FormatLogLine("14:03:27", 12345678, "CMill.SendSack1 5"), "14:03:27/5678: CMill.SendSack1 5");
    EXPECT_EQ(FormatLogLine("14:03:27", 10005, ""), "14:03:27/0005: ");
    EXPECT_EQ(FormatLogLine("14:03:27", 0, ""), "14:03:27/0: ");
    EXPECT_EQ(FormatLogLine("14:03:27", 4294967295u, "t"), "14:03:27/7295: t");
}

}  // namespace
}  // namespace qm

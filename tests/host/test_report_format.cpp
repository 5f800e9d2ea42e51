// How the reports write numbers and texts: the printf rules of each kind of
// number, JSON's nulls, and tables whose columns line up on a terminal
// whatever the cells hold. Expected texts follow from the C format rules
// and the Unicode character widths by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "host/base/NumberText.h"
#include "host/report/ReportFormat.h"

using mchost::TextTable;

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

const std::string kEllipsis = "\xE2\x80\xA6";   // U+2026
const std::string kReplaced = "\xEF\xBF\xBD";   // U+FFFD
const std::string kMiddle = "\xE4\xB8\xAD";     // U+4E2D, a CJK ideograph
const std::string kWriting = "\xE6\x96\x87";    // U+6587
const std::string kCharacter = "\xE5\xAD\x97";  // U+5B57
const std::string kAcute = "\xCC\x81";          // U+0301, combining

std::string Spaces(std::size_t n) {
    return std::string(n, ' ');
}

}  // namespace

TEST(ReportFormat, NumbersCountsWholesAndSignificances) {
    // Six significant digits, %g's switch to an exponent below 1e-4 and
    // from 1e6; missing is empty.
    EXPECT_EQ(mchost::Number(0.1), "0.1");
    EXPECT_EQ(mchost::Number(123456.4), "123456");
    EXPECT_EQ(mchost::Number(1234567), "1.23457e+06");
    EXPECT_EQ(mchost::Number(-0.000012345678), "-1.23457e-05");
    EXPECT_EQ(mchost::Number(0.0001), "0.0001");
    EXPECT_EQ(mchost::Number(2.0 / 3.0), "0.666667");
    EXPECT_EQ(mchost::Number(kNaN), "");
    EXPECT_EQ(mchost::Format("%.3f", 2.0), "2.000");

    // Counts: whole numbers without fraction or exponent up to 1e15, the
    // fraction of a weighted count to fifteen digits.
    EXPECT_EQ(mchost::Count(12), "12");
    EXPECT_EQ(mchost::Count(-3), "-3");
    EXPECT_EQ(mchost::Count(123456789012345.0), "123456789012345");
    EXPECT_EQ(mchost::Count(1e15), "1e+15");
    EXPECT_EQ(mchost::Count(2.5), "2.5");
    EXPECT_EQ(mchost::Count(1.0 / 3.0), "0.333333333333333");
    EXPECT_EQ(mchost::Count(1234567.125), "1234567.125");
    EXPECT_EQ(mchost::Count(kNaN), "");

    // Wholes are rounded to no decimals.
    EXPECT_EQ(mchost::Whole(1234567.0), "1234567");
    EXPECT_EQ(mchost::Whole(7.6), "8");
    EXPECT_EQ(mchost::Whole(-7.6), "-8");
    EXPECT_EQ(mchost::Whole(kNaN), "");

    // Significances: four decimals from 0.001 on, two-digit mantissas
    // below, and a floor for an exact zero.
    EXPECT_EQ(mchost::PValue(0.05), "0.0500");
    EXPECT_EQ(mchost::PValue(0.001), "0.0010");
    EXPECT_EQ(mchost::PValue(0.04999), "0.0500");
    EXPECT_EQ(mchost::PValue(1), "1.0000");
    EXPECT_EQ(mchost::PValue(0.00099), "9.90e-04");
    EXPECT_EQ(mchost::PValue(1.234e-10), "1.23e-10");
    EXPECT_EQ(mchost::PValue(4.9406564584124654e-324), "4.94e-324");
    EXPECT_EQ(mchost::PValue(0), "<1e-300");
    EXPECT_EQ(mchost::PValue(kNaN), "");
}

TEST(ReportFormat, ShortestNumberTextsAndDecimalCommas) {
    EXPECT_EQ(mchost::NumberText(4), "4");
    EXPECT_EQ(mchost::NumberText(-2.5), "-2.5");
    EXPECT_EQ(mchost::NumberText(0.1), "0.1");
    EXPECT_EQ(mchost::NumberText(1e20), "1e+20");
    EXPECT_EQ(mchost::NumberText(1.0 / 3.0), "0.3333333333333333");
    EXPECT_EQ(mchost::NumberText(4.9406564584124654e-324), "5e-324");
    // Every double reads back as itself.
    std::mt19937_64 gen(11);
    for (int i = 0; i < 2000; ++i) {
        const std::uint64_t bits = gen();
        double v;
        std::memcpy(&v, &bits, sizeof v);
        if (!std::isfinite(v)) continue;
        // strtod, not stod: stod refuses the subnormal numbers.
        ASSERT_EQ(std::strtod(mchost::NumberText(v).c_str(), nullptr), v) << mchost::NumberText(v);
    }

    // A confidence level's percentage keeps every digit of the level: six
    // significant digits once labelled a 99.99999% interval 100%.
    for (const auto& [level, text] :
         std::vector<std::pair<double, std::string>>{{0.95, "95"},
                                                     {0.5, "50"},
                                                     {0.001, "0.1"},
                                                     {0.9999999, "99.99999"},
                                                     {0.123456789, "12.3456789"},
                                                     {0.9999999999999999, "99.99999999999999"}})
        EXPECT_EQ(mchost::PercentText(level), text) << level;

    // Only digits with one comma between them, perhaps signed.
    for (const char* s : {"2,5", "-0,25", "+1,5", "10,000"})
        EXPECT_TRUE(mchost::HasDecimalComma(s)) << s;
    for (const char* s :
         {"2.5", "1,234,567", ",5", "5,", "-,5", "1,5e3", "a,b", "1 ,5", "--1,5", "", ","})
        EXPECT_FALSE(mchost::HasDecimalComma(s)) << s;
}

TEST(ReportFormat, JsonNumbersCountsAndText) {
    // JSON has no NaN or infinity: a statistic that is not a number is null.
    EXPECT_TRUE(mchost::JsonNumber(kNaN).is_null());
    EXPECT_TRUE(mchost::JsonNumber(kInf).is_null());
    EXPECT_TRUE(mchost::JsonNumber(-kInf).is_null());
    EXPECT_TRUE(mchost::JsonNumber(1.5).is_number_float());
    EXPECT_EQ(mchost::JsonNumber(1.5).get<double>(), 1.5);
    EXPECT_EQ(mchost::JsonNumber(-1e-300).get<double>(), -1e-300);
    EXPECT_EQ(mchost::JsonNumber(1e300).dump(), "1e+300");

    // Whole counts are integers (written without ".0"), others stay numbers.
    EXPECT_TRUE(mchost::JsonCount(3.0).is_number_integer());
    EXPECT_EQ(mchost::JsonCount(3.0).dump(), "3");
    EXPECT_EQ(mchost::JsonCount(-4.0).dump(), "-4");
    EXPECT_TRUE(mchost::JsonCount(2.5).is_number_float());
    EXPECT_EQ(mchost::JsonCount(2.5).get<double>(), 2.5);
    EXPECT_TRUE(mchost::JsonCount(1e16).is_number_float());
    EXPECT_TRUE(mchost::JsonCount(kNaN).is_null());
    EXPECT_TRUE(mchost::JsonCount(kInf).is_null());

    // Two-blank indents, a final line end, members in the order made, and
    // a byte that is not UTF-8 replaced rather than failing the document.
    nlohmann::ordered_json j;
    j["z"] = "caf\xC3\xA9";
    j["a"] = "bad \xFF byte";
    j["n"] = mchost::JsonNumber(kNaN);
    EXPECT_EQ(mchost::JsonText(j), "{\n  \"z\": \"caf\xC3\xA9\",\n  \"a\": \"bad " + kReplaced +
                                       " byte\",\n  \"n\": null\n}\n");
}

TEST(ReportFormat, DisplayTextEscapesWhatWouldMoveTheCursor) {
    EXPECT_EQ(mchost::DisplayText("plain text, 1.5"), "plain text, 1.5");
    EXPECT_EQ(mchost::DisplayText("a\tb\nc\rd"), "a\\tb\\nc\\rd");
    EXPECT_EQ(mchost::DisplayText("\x1b[31mred"), "\\x1b[31mred");
    EXPECT_EQ(mchost::DisplayText(std::string("nul\0!", 5)), "nul\\x00!");
    EXPECT_EQ(mchost::DisplayText("del\x7f"), "del\\x7f");
    EXPECT_EQ(mchost::DisplayText("c1 \xC2\x85 \xC2\x9F"), "c1 \\x85 \\x9f");  // NEL, APC
    // Printable characters beyond ASCII stay as they are.
    EXPECT_EQ(mchost::DisplayText("caf\xC3\xA9 \xC2\xA0" + kMiddle),
              "caf\xC3\xA9 \xC2\xA0" + kMiddle);
    // Bytes that are not UTF-8 (Latin-1 "é", a cut sequence) become U+FFFD.
    EXPECT_EQ(mchost::DisplayText("caf\xE9"), "caf" + kReplaced);
    EXPECT_EQ(mchost::DisplayText("cut \xE4\xB8"), "cut " + kReplaced + kReplaced);
    EXPECT_EQ(mchost::DisplayText("\xFF\xFE"), kReplaced + kReplaced);
}

TEST(ReportFormat, DisplayWidthCountsTerminalColumns) {
    EXPECT_EQ(mchost::DisplayWidth(""), 0u);
    EXPECT_EQ(mchost::DisplayWidth("abc"), 3u);
    EXPECT_EQ(mchost::DisplayWidth("caf\xC3\xA9"), 4u);       // é precomposed
    EXPECT_EQ(mchost::DisplayWidth("cafe" + kAcute), 4u);     // e and a combining accent
    EXPECT_EQ(mchost::DisplayWidth(kMiddle + kWriting), 4u);  // two ideographs
    EXPECT_EQ(mchost::DisplayWidth("\xED\x95\x9C"), 2u);      // U+D55C, a Hangul syllable
    EXPECT_EQ(mchost::DisplayWidth("\xE3\x81\x82"), 2u);      // U+3042, Hiragana
    EXPECT_EQ(mchost::DisplayWidth("\xE3\x80\x80"), 2u);      // U+3000, ideographic space
    EXPECT_EQ(mchost::DisplayWidth("\xEF\xBC\xA1"), 2u);      // U+FF21, fullwidth A
    EXPECT_EQ(mchost::DisplayWidth("\xEF\xBD\xB1"), 1u);      // U+FF71, halfwidth katakana
    EXPECT_EQ(mchost::DisplayWidth("\xF0\x9F\x98\x80"), 2u);  // U+1F600, an emoji
    EXPECT_EQ(mchost::DisplayWidth("\xF0\xA0\x80\x80"), 2u);  // U+20000, CJK extension B
    EXPECT_EQ(mchost::DisplayWidth("a\xE2\x80\x8B" + std::string("b")), 2u);  // U+200B, zero width
    EXPECT_EQ(mchost::DisplayWidth("\xCE\xB1\xCE\xB2"), 2u);                  // Greek
    EXPECT_EQ(mchost::DisplayWidth("\xD0\x96"), 1u);                          // Cyrillic
    // A byte that is not UTF-8 is shown as one replacement character.
    EXPECT_EQ(mchost::DisplayWidth("a\xFF" + std::string("b")), 3u);
    // What DisplayText makes of a text is as wide as what it shows.
    EXPECT_EQ(mchost::DisplayWidth(mchost::DisplayText("a\tb")), 4u);
}

TEST(ReportFormat, ShorteningEndsInAnEllipsisWithinTheWidth) {
    EXPECT_EQ(mchost::ShortenForDisplay("abcd", 4), "abcd");
    EXPECT_EQ(mchost::ShortenForDisplay("abcdef", 4), "abc" + kEllipsis);
    EXPECT_EQ(mchost::ShortenForDisplay("abcdef", 1), kEllipsis);
    EXPECT_EQ(mchost::ShortenForDisplay("abcdef", 0), "abcdef");  // no limit
    // Wide characters: never past the width, even when that leaves a
    // column free.
    const std::string three = kMiddle + kWriting + kCharacter;  // 6 columns
    EXPECT_EQ(mchost::ShortenForDisplay(three, 6), three);
    EXPECT_EQ(mchost::ShortenForDisplay(three, 5), kMiddle + kWriting + kEllipsis);
    EXPECT_EQ(mchost::ShortenForDisplay(three, 4), kMiddle + kEllipsis);
    // A combining mark stays with its letter; no character is cut apart.
    const std::string accents = "e" + kAcute + "e" + kAcute + "e" + kAcute;  // 3 columns
    EXPECT_EQ(mchost::ShortenForDisplay(accents, 2), "e" + kAcute + kEllipsis);
    const std::string cut = mchost::ShortenForDisplay("\xC3\xA9\xC3\xA9\xC3\xA9", 2);
    EXPECT_EQ(cut, "\xC3\xA9" + kEllipsis);
    for (std::size_t w = 1; w < 8; ++w)
        EXPECT_LE(mchost::DisplayWidth(mchost::ShortenForDisplay(three + "abc", w)), w) << w;
}

TEST(ReportFormat, TablesAlignColumnsByDisplayWidth) {
    // Numbers right-aligned under a left-aligned label column, two blanks
    // apart, a rule as wide as the table, no blanks at the ends of lines.
    TextTable t;
    t.Add({"Parameter", "B", "Sig."});
    t.Rule();
    t.Add({"x", "1.5", "0.0300"});
    t.Add({"Intercept", "-12.25", "<1e-300"});
    // Widths 9, 6 and 7.
    EXPECT_EQ(t.Render("  "), "  Parameter" + Spaces(7) + "B" + Spaces(5) + "Sig.\n" + "  " +
                                  std::string(9 + 2 + 6 + 2 + 7, '-') + "\n" + "  x" +
                                  Spaces(8 + 2 + 3) + "1.5" + Spaces(3) + "0.0300\n" +
                                  "  Intercept  -12.25  <1e-300\n");

    // Label/value lists are left-aligned throughout.
    TextTable list(false);
    list.Add({"Dependent", "y"});
    list.Add({"Formula", "y ~ A"});
    list.Add({"Records", "12"});
    EXPECT_EQ(list.Render(""), "Dependent  y\nFormula    y ~ A\nRecords    12\n");

    // More text columns; rows of fewer cells.
    TextTable two;
    two.SetTextColumns(2);
    two.Add({"A", "a1", "3"});
    two.Add({"AB", "b", "10"});
    two.Add({"ABC"});
    EXPECT_EQ(two.Render(""), "A    a1   3\nAB   b   10\nABC\n");

    // A wide character takes two columns, an escaped tab two.
    TextTable wide;
    wide.Add({kMiddle, "1"});
    wide.Add({"ab\tc", "22"});
    EXPECT_EQ(wide.Render(""), kMiddle + Spaces(3 + 2 + 1) + "1\nab\\tc  22\n");

    // A cell wider than a table's most is shortened to it; a list keeps it.
    TextTable cells;
    cells.Add({std::string(150, 'x'), "1"});
    cells.Add({"y", "2"});
    EXPECT_EQ(cells.Render(""), std::string(TextTable::kMaxCellWidth - 1, 'x') + kEllipsis +
                                    "  1\ny" + Spaces(TextTable::kMaxCellWidth - 1 + 2) + "2\n");
    TextTable longList(false);
    longList.Add({"Note", std::string(150, 'x')});
    EXPECT_EQ(longList.Render(""), "Note  " + std::string(150, 'x') + "\n");
}

TEST(ReportFormat, TextFactorsLineNamesTheColumns) {
    EXPECT_EQ(mchost::TextFactorsLine({"A"}), "A (none of its cells is a number)");
    EXPECT_EQ(mchost::TextFactorsLine({"A", "B", "g"}),
              "A, B, g (none of their cells is a number)");
}

// The CSV reader: RFC 4180 quoting, line ends, missing cells, the number
// rule and the errors that name a record.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "host/CsvReader.h"
#include "host/HostError.h"

using mchost::CsvReader;
using mchost::DataTable;
using mchost::HostError;

namespace {

// Feeds the text in pieces of the given size, so that quotes, line ends and
// the byte order mark are split across calls.
DataTable ReadInPieces(const std::string& text, std::size_t piece) {
    CsvReader r;
    for (std::size_t i = 0; i < text.size(); i += piece)
        r.Feed(text.data() + i, std::min(piece, text.size() - i));
    return r.Finish();
}

std::string ErrorOf(const std::string& text) {
    try {
        CsvReader::ReadString(text);
    } catch (const HostError& e) {
        EXPECT_EQ(e.GetKind(), HostError::kData);
        return e.what();
    }
    return "";
}

}  // namespace

TEST(CsvReader, QuotingLineEndsAndByteOrderMark) {
    const std::string text =
        "\xEF\xBB\xBF"
        "name,\"a, b\",x\r\n"
        "\"He said \"\"hi\"\"\",\"two\r\nlines\", 1.5 \r\n"
        "\r\n"
        "plain,,NA\n"
        "\"\",\"NA\",-2e3";  // no final line end
    for (std::size_t piece : {1u, 2u, 7u, 4096u}) {
        const DataTable t = ReadInPieces(text, piece);
        ASSERT_EQ(t.GetNColumns(), 3);
        ASSERT_EQ(t.GetNRows(), 3u) << piece;
        EXPECT_EQ(t.GetColumn(0).GetName(), "name");  // the mark is not part of it
        EXPECT_EQ(t.GetColumn(1).GetName(), "a, b");
        const auto& name = t.GetColumn(0);
        EXPECT_EQ(name.GetTexts()[static_cast<std::size_t>(name.GetTextCode(0))], "He said \"hi\"");
        EXPECT_TRUE(name.IsMissing(2));  // a quoted empty field
        const auto& ab = t.GetColumn(1);
        EXPECT_EQ(ab.GetTexts()[static_cast<std::size_t>(ab.GetTextCode(0))], "two\r\nlines");
        EXPECT_TRUE(ab.IsMissing(1));
        EXPECT_TRUE(ab.IsMissing(2));  // "NA", quoted or not
        const auto& x = t.GetColumn(2);
        EXPECT_TRUE(x.IsNumeric());
        EXPECT_EQ(x.GetNumber(0), 1.5);  // blanks around an unquoted field go
        EXPECT_TRUE(x.IsMissing(1));
        EXPECT_EQ(x.GetNumber(2), -2000.0);
    }
}

TEST(CsvReader, NumberRuleAndColumnKinds) {
    double v = 0;
    for (const char* s : {"0", "+3", "-0.5", ".25", "1e-3", "6.02E23", "1e-400"})
        EXPECT_TRUE(CsvReader::ParseNumber(s, std::strlen(s), v)) << s;
    EXPECT_TRUE(CsvReader::ParseNumber("-0", 2, v) && !std::signbit(v));
    for (const char* s :
         {"inf", "-inf", "nan", "1e400", "0x10", "1,5", "--1", "+-1", "1e", ".", "1 2"})
        EXPECT_FALSE(CsvReader::ParseNumber(s, std::strlen(s), v)) << s;

    // One text cell makes a text column: every cell of it is text, the
    // numbers before the first text too (read again), in their own spelling.
    const std::string mixed = "n,m\n1,007\n3,abc\n4,abc\n5,7\n";
    const DataTable t = CsvReader::ReadString(mixed);
    EXPECT_TRUE(t.GetColumn(0).IsNumeric());
    const auto& m = t.GetColumn(1);
    EXPECT_FALSE(m.IsNumeric() || m.IsMixed());
    auto text = [&m](std::size_t row) {
        return m.IsNumber(row) ? "number"
                               : m.GetTexts()[static_cast<std::size_t>(m.GetTextCode(row))];
    };
    EXPECT_EQ(text(0), "007");
    EXPECT_EQ(text(1), "abc");
    EXPECT_EQ(m.GetTextCode(1), m.GetTextCode(2));
    EXPECT_EQ(text(3), "7");
    // The streaming interface cannot look back.
    EXPECT_TRUE(ReadInPieces(mixed, 3).GetColumn(1).IsMixed());
    // Many distinct texts: codes stay consistent through the table's growth.
    std::string many = "c\n";
    for (int i = 0; i < 100; ++i) many += "t" + std::to_string(i % 40) + "\n";
    const DataTable big = CsvReader::ReadString(many);
    const auto& c = big.GetColumn(0);
    EXPECT_EQ(c.GetTexts().size(), 40u);
    for (std::size_t i = 0; i < 100; ++i)
        EXPECT_EQ(c.GetTexts()[static_cast<std::size_t>(c.GetTextCode(i))],
                  "t" + std::to_string(i % 40));
}

TEST(CsvReader, SelectorSkipsColumnsAndErrorsNameTheRecord) {
    const DataTable t =
        CsvReader::ReadString("a,b,c\n1,x,3\n4,y,6\n", [](const std::vector<std::string>& h) {
            EXPECT_EQ(h.size(), 3u);
            return std::vector<bool>{true, false, true};
        });
    EXPECT_FALSE(t.GetColumn(1).IsLoaded());
    EXPECT_EQ(t.GetColumn(1).GetNRows(), 0u);
    EXPECT_EQ(t.GetColumn(2).GetNumber(1), 6.0);
    // An exception of the selector reaches the caller.
    EXPECT_THROW(CsvReader::ReadString("a\n1\n",
                                       [](const std::vector<std::string>&) -> std::vector<bool> {
                                           throw HostError(HostError::kUsage, "no");
                                       }),
                 HostError);

    EXPECT_NE(ErrorOf("a,b\n1,2\n3\n").find("record 3 has 1 field but the header has 2"),
              std::string::npos);
    EXPECT_NE(ErrorOf("a,b\n1,2,3\n").find("record 2 has 3 fields"), std::string::npos);
    EXPECT_NE(ErrorOf("a,b\n1,x\"y\n").find("malformed quoting in record 2"), std::string::npos);
    EXPECT_NE(ErrorOf("a,b\n1,\"open\n").find("inside a quoted field"), std::string::npos);
    EXPECT_NE(ErrorOf("").find("empty"), std::string::npos);
    EXPECT_EQ(CsvReader::ReadString("a,b\n").GetNRows(), 0u);
}

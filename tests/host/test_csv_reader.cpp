// The CSV reader: RFC 4180 quoting, line ends, missing cells, the number
// rule, text columns and the errors that name a record, each the same
// whichever way the input is read.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "coded_dump.h"
#include "host/base/HostError.h"
#include "host/base/PageFault.h"
#include "host/input/CsvReader.h"
#include "host/input/CsvScanner.h"
#include "host/input/RecordStore.h"
#include "support/host_fixtures.h"

using mchost::CodedData;
using mchost::ColumnPlan;
using mchost::CsvReader;
using mchost::CsvScanner;
using mchost::FaultInPages;
using mchost::HostError;
using mchost::MemoryRecordStore;
using mchost::ReadOptions;
using mchost::TouchPages;
using mchost_test::AllPaths;
using mchost_test::Dump;
using mchost_test::ThrownBy;
using testing::HasSubstr;

namespace {

// The dump of text read every way; all ways must agree.
std::string ReadAllWays(const std::string& text, const mchost::PlanFn& plan = nullptr,
                        const std::vector<std::string>& naValues = {"NA"}) {
    std::vector<ReadOptions> ways = AllPaths();
    for (ReadOptions& way : ways) way.fvNaValues = naValues;
    const std::string first = Dump(CsvReader::ReadString(text, plan, ways[0]));
    for (std::size_t i = 1; i < ways.size(); ++i) {
        const CodedData d = CsvReader::ReadString(text, plan, ways[i]);
        EXPECT_EQ(d.IsStreaming(), ways[i].fMemoryLimit == 0) << i;
        EXPECT_EQ(Dump(d), first) << "way " << i;
    }
    return first;
}

// The message of the data error every way of reading gives (they must agree).
std::string ErrorOf(const std::string& text) {
    std::string first;
    const std::vector<ReadOptions> ways = AllPaths();
    for (std::size_t i = 0; i < ways.size(); ++i) {
        const mchost_test::Thrown e =
            ThrownBy([&] { CsvReader::ReadString(text, nullptr, ways[i]); });
        EXPECT_EQ(e.kind, HostError::kData) << "way " << i;
        if (i == 0) first = e.message;
        EXPECT_EQ(e.message, first) << "way " << i;
    }
    return first;
}

// Every column loaded, the second as categories.
std::vector<ColumnPlan> SecondCategorical(const std::vector<std::string>& header) {
    std::vector<ColumnPlan> p(header.size());
    for (ColumnPlan& c : p) c.fbLoad = true;
    p[1].fbCategorical = true;
    return p;
}

// The message of the error a reading gives.
std::string MessageOf(const std::string& text, const ReadOptions& how = ReadOptions()) {
    return ThrownBy([&] { CsvReader::ReadString(text, nullptr, how); }).message;
}

}  // namespace

TEST(CsvReader, QuotingLineEndsAndByteOrderMark) {
    const std::string text =
        "\xEF\xBB\xBF"
        "name,\"a, b\",x\r\n"
        "\"He said \"\"hi\"\"\",\"two\r\nlines\", 1.5 \r\n"
        "\r\n"
        "plain,,NA\n"
        "  \"\"  ,\"NA\",-2e3";  // blanks around quotes, no final line end
    EXPECT_EQ(ReadAllWays(text),
              "3 records, 1 used\n"
              "name: THe said \"hi\" Tplain NA\n"  // the mark is not part of the name
              "a, b: Ttwo\r\nlines NA NA\n"        // NA, quoted or not, is missing
              "x: 1.5 NA -2000\n");                // blanks around an unquoted field go
    // Old Mac line ends and a trailing comma (an empty last field).
    EXPECT_EQ(ReadAllWays("a,b\r1,\r\r2,3\r"), "2 records, 1 used\na: 1 2\nb: NA 3\n");
    // Blank lines before the header, longer than the small blocks.
    EXPECT_EQ(ReadAllWays(std::string(100, '\n') + "\r\nlong_name,b\n1,2\n"),
              "1 records, 1 used\nlong_name: 1\nb: 2\n");
}

TEST(CsvReader, NumbersAtTheLimitsOfDouble) {
    double v = 0;
    for (const char* s : {"0", "+3", "-0.5", ".25", "5.", "1e-3", "6.02E23", "1e-400", "007"})
        EXPECT_TRUE(CsvScanner::ParseNumber(s, std::strlen(s), v)) << s;
    EXPECT_TRUE(CsvScanner::ParseNumber("-0", 2, v) && !std::signbit(v));
    EXPECT_TRUE(CsvScanner::ParseNumber("-0.000", 6, v) && !std::signbit(v));
    for (const char* s : {"inf", "-inf", "nan", "1e400", "-1e309", "0x10", "1,5", "--1", "+-1",
                          "1e", ".", "-", "1 2", "1.2.3", "1e5x"})
        EXPECT_FALSE(CsvScanner::ParseNumber(s, std::strlen(s), v)) << s;
    // Digits are taken eight bytes at a time: a byte next to the digits'
    // range, or one whose carry could spill into the next, is no digit
    // wherever it falls in the eight.
    for (const char* s : {"1234567x", "12345:78", "1234/678", "0.123456789012345x7",
                          "12\xfa"
                          "4567890",
                          "9\xff", "1234567.8\xf9",
                          "\xfa"
                          "1.5"})
        EXPECT_FALSE(CsvScanner::ParseNumber(s, std::strlen(s), v)) << s;

    // The extremes read back exactly; past the largest double is text.
    const std::string text =
        "x\n1.7976931348623157e308\n-1.7976931348623157e308\n4.9406564584124654e-324\n"
        "2.2250738585072014e-308\n0.1\n123456789012345\n1234567890123456789\n";
    const CodedData d = CsvReader::ReadString(text);
    auto it = d.fpStore->MakeIterator();
    const double want[] = {1.7976931348623157e308,
                           -1.7976931348623157e308,
                           4.9406564584124654e-324,
                           2.2250738585072014e-308,
                           0.1,
                           123456789012345.0,
                           1234567890123456789.0};
    for (double w : want) EXPECT_EQ((*it->Next())[0], w);
    EXPECT_EQ(ReadAllWays("x\n1e308\n1e309\n"), "2 records, 2 used\nx: T1e308 T1e309\n");

    // The quick path for plain decimals rounds as the full parser does,
    // also with leading zeros and past the digits it takes.
    std::mt19937_64 gen(7);
    for (int i = 0; i < 40000; ++i) {
        const int digits = 1 + static_cast<int>(gen() % 22);
        std::string s = gen() % 2 ? "-" : "";
        for (int k = 0; k < digits; ++k)
            s += static_cast<char>('0' + (k < static_cast<int>(gen() % 4) ? 0 : gen() % 10));
        s.insert(s.size() - gen() % (digits + 1), ".");
        double fast = 0, full = 0;
        ASSERT_TRUE(CsvScanner::ParseNumber(s.data(), s.size(), fast)) << s;
        std::from_chars(s.data(), s.data() + s.size(), full);
        ASSERT_EQ(fast, full + 0.0) << s;
    }
}

TEST(CsvReader, CellsReadAsTheFullParserReadsTheirText) {
    // Plain decimals are read where they stand, up to the delimiter or
    // line end after their digits; every other cell (blanks around it, an
    // exponent, a plus sign, more digits than a double holds, a block's
    // last bytes) is read as a field first. Each must be the number
    // from_chars makes of its text, under every delimiter and line end and
    // on every way of reading.
    std::mt19937_64 gen(5);
    const char* const odd[] = {" 12.5",
                               "12.5 ",
                               "+3",
                               "1e5",
                               "-0",
                               "5.",
                               ".25",
                               "-.5",
                               "\"7.5\"",
                               "12345678901234567890",
                               "9007199254740993",
                               "0.00000000000000000000001"};
    for (const char delimiter : {',', ';', '\t', '|'}) {
        std::string text = std::string("a") + delimiter + "b\n";
        std::vector<double> want;
        for (int i = 0; i < 300; ++i) {
            for (int col = 0; col < 2; ++col) {
                std::string cell;
                if (gen() % 5 == 0) {
                    cell = odd[gen() % (sizeof odd / sizeof odd[0])];
                } else {
                    const int digits = 1 + static_cast<int>(gen() % 20);
                    cell = gen() % 2 ? "-" : "";
                    for (int k = 0; k < digits; ++k) cell += static_cast<char>('0' + gen() % 10);
                    cell.insert(cell.size() - gen() % (digits + 1), ".");
                }
                std::string bare = cell;
                bare.erase(0, bare.find_first_not_of(" \"+"));
                bare.erase(bare.find_last_not_of(" \"") + 1);
                double v = 0;
                std::from_chars(bare.data(), bare.data() + bare.size(), v);
                want.push_back(v + 0.0);
                text += cell;
                text += col == 0 ? std::string(1, delimiter) : i % 3 == 0 ? "\r\n" : "\n";
            }
        }
        std::vector<ReadOptions> ways = AllPaths(3);
        for (std::size_t w = 0; w < ways.size(); ++w) {
            ways[w].fDelimiter = delimiter;
            const CodedData d = CsvReader::ReadString(text, nullptr, ways[w]);
            ASSERT_EQ(d.fNRecords, want.size() / 2);
            auto it = d.fpStore->MakeIterator();
            for (std::size_t k = 0; k < want.size(); k += 2) {
                const auto* r = it->Next();
                ASSERT_EQ((*r)[0], want[k]) << delimiter << " way " << w << " record " << k / 2;
                ASSERT_EQ((*r)[1], want[k + 1]) << delimiter << " way " << w << " record " << k / 2;
            }
        }
    }
}

TEST(CsvReader, TextColumnsAndCategoricalNumbers) {
    // One text cell makes a text column: every cell of it is text, the
    // numbers before the first text too (read again), in their own spelling.
    EXPECT_EQ(ReadAllWays("n,m\n1,007\n3,abc\n4,abc\n5,7\n"),
              "4 records, 4 used\nn: 1 3 4 5\nm: T007 Tabc Tabc T7\n");
    // A categorical column codes its numbers; -0 and 0 are one category.
    const std::string categories = "y,g\n1,10\n2,-0\n3,0\n4,2.5\n5,10\n";
    EXPECT_EQ(ReadAllWays(categories, SecondCategorical),
              "5 records, 5 used\ny: 1 2 3 4 5\ng: N10 N0 N0 N2.5 N10\n");
    const CodedData d = CsvReader::ReadString(categories, SecondCategorical);
    EXPECT_EQ(d.fvColumns[1].fNumbers.Size(), 3u);
    // Identifiers of 18 digits that differ in the last are one double: as
    // categories they are read as text, also where the first come as
    // numbers (read again), and fifteen digits with zeros around them stay
    // numbers. A covariate keeps its value.
    EXPECT_EQ(ReadAllWays("y,g\n1,123456789012345671\n2,123456789012345672\n", SecondCategorical),
              "2 records, 2 used\ny: 1 2\ng: T123456789012345671 T123456789012345672\n");
    EXPECT_EQ(ReadAllWays("y,g\n1,5\n2,123456789012345672\n3,-0.0012345678901234567e3\n",
                          SecondCategorical),
              "3 records, 3 used\ny: 1 2 3\ng: T5 T123456789012345672 "
              "T-0.0012345678901234567e3\n");
    EXPECT_EQ(
        ReadAllWays("y,g\n1,000123456789012345000\n2,1.23456789012345e-7\n", SecondCategorical),
        "2 records, 2 used\ny: 1 2\ng: N123456789012344992 N1.23456789012345e-07\n");
    // A category that underflows would join 0 ("1e-400"), or keep fewer
    // digits than it shows (a subnormal): text too. A covariate reads it
    // as the nearest double.
    EXPECT_EQ(ReadAllWays("y,g\n1,0\n2,1e-400\n3,1.23456789012345e-320\n", SecondCategorical),
              "3 records, 3 used\ny: 1 2 3\ng: T0 T1e-400 T1.23456789012345e-320\n");
    EXPECT_EQ(ReadAllWays("g,y\n1e-400,1\n"), "1 records, 1 used\ng: 0\ny: 1\n");
    EXPECT_EQ(ReadAllWays("g,y\n123456789012345671,1\n"),
              "1 records, 1 used\ng: 123456789012345664\ny: 1\n");
    // Many distinct texts: codes stay consistent through the dictionaries'
    // growth and across blocks and threads.
    std::string many = "c\n", want = "100 records, 100 used\nc:";
    for (int i = 0; i < 100; ++i) {
        many += "t" + std::to_string(i % 40) + "\n";
        want += " Tt" + std::to_string(i % 40);
    }
    EXPECT_EQ(ReadAllWays(many), want + "\n");
}

TEST(CsvReader, MissingValueMarkersMatchNumbersByValue) {
    // Blanks around a marker do not count. A marker that is a number
    // matches each spelling of its value; -999.5 and -9990 are no match.
    const std::vector<std::string> na{"NA", " .", " -999 "};
    EXPECT_EQ(ReadAllWays("y,x\n1,-999\n2,-999.0\n3,-9.99e2\n4,-999.5\n5,.\n6,-9990\n7, NA\n",
                          nullptr, na),
              "7 records, 2 used\ny: 1 2 3 4 5 6 7\nx: NA NA NA -999.5 NA -9990 NA\n");
    // A categorical column, whose numbers are categories by value anyway.
    EXPECT_EQ(ReadAllWays("y,g\n1,2\n2,-999.00\n3,2.0\n", SecondCategorical, na),
              "3 records, 2 used\ny: 1 2 3\ng: N2 NA N2\n");
    // In a column of texts, a cell whose value is a numeric marker is
    // missing too, as it was before the first text showed the column to
    // be one; other cells keep their spelling, and a text marker matches
    // its text exactly.
    EXPECT_EQ(ReadAllWays("y,t\n1,-999.0\n2,abc\n3,-999\n4,007\n5,na\n6,.\n", nullptr, na),
              "6 records, 3 used\ny: 1 2 3 4 5 6\nt: NA Tabc NA T007 Tna NA\n");
    // Without a numeric marker a number that looks like one stays.
    EXPECT_EQ(ReadAllWays("y,x\n1,-999.0\n2,3\n", nullptr, {"NA", "-999x"}),
              "2 records, 2 used\ny: 1 2\nx: -999 3\n");
}

TEST(CsvReader, VeryLongFieldsAndRecords) {
    // Fields longer than a block, quoted with line breaks and quotes inside.
    const std::string longText(300000, 'z');
    std::string quoted = "\"";
    for (int i = 0; i < 5000; ++i) quoted += "a\"\"b\n,";
    quoted += "\"";
    const std::string text = "a,b\n" + longText + ",1\n" + quoted + ",2\nshort,3\n";
    const std::string dump = ReadAllWays(text);
    std::string unquoted;
    for (int i = 0; i < 5000; ++i) unquoted += "a\"b\n,";
    EXPECT_EQ(dump, "3 records, 3 used\na: T" + longText + " T" + unquoted + " Tshort\nb: 1 2 3\n");
}

TEST(CsvReader, PlanSkipsColumnsAndErrorsNameTheRecord) {
    const CodedData d =
        CsvReader::ReadString("a,b,c\n1,x,3\n4,y,6\n", [](const std::vector<std::string>& h) {
            EXPECT_EQ(h.size(), 3u);
            std::vector<ColumnPlan> p(3);
            p[0].fbLoad = p[2].fbLoad = true;
            p[2].fbWeight = true;
            return p;
        });
    ASSERT_EQ(d.fvColumns.size(), 2u);
    EXPECT_EQ(d.FindColumn(1), nullptr);
    EXPECT_EQ(d.FindColumn(2)->fPosition, 1);
    EXPECT_EQ(Dump(d), "2 records, 2 used\na: 1 4\nc: 3 6\n");
    // A weight that is not positive leaves the record out.
    EXPECT_EQ(CsvReader::ReadString("a,w\n1,0\n2,-1\n3,0.5\n4,NA\n",
                                    [](const std::vector<std::string>&) {
                                        std::vector<ColumnPlan> p(2);
                                        p[0].fbLoad = p[1].fbLoad = p[1].fbWeight = true;
                                        return p;
                                    })
                  .fNUsed,
              1u);
    // An exception of the plan reaches the caller.
    EXPECT_THROW(
        CsvReader::ReadString("a\n1\n",
                              [](const std::vector<std::string>&) -> std::vector<ColumnPlan> {
                                  throw HostError(HostError::kUsage, "no");
                              }),
        HostError);

    EXPECT_THAT(ErrorOf("a,b\n1,2\n3\n"),
                HasSubstr("<text>, line 3 (data row 2): 1 field, but the header has 2"));
    EXPECT_THAT(ErrorOf("a,b\n1,2,3\n"), HasSubstr("line 2 (data row 1): 3 fields"));
    EXPECT_THAT(ErrorOf("a,b\n1,x\"y\n"),
                HasSubstr("line 2 (data row 1): malformed quoting at byte 8 of the file (line 2)"));
    EXPECT_THAT(ErrorOf("a,b\n1,\"x\"y\n"), HasSubstr("(data row 1): malformed quoting"));
    EXPECT_THAT(ErrorOf("a,\"b\n1,2\n"),
                HasSubstr("line 1 (the header): a quoted field that starts"));
    EXPECT_THAT(ErrorOf("a,b\n1,\"open\n"),
                HasSubstr("line 2 (data row 1): a quoted field that starts"));
    EXPECT_THAT(ErrorOf(""), HasSubstr("empty"));
    EXPECT_THAT(ErrorOf("\n\r\n"), HasSubstr("empty"));
    // Far into the input, past blocks and thread splits: blank lines count
    // as lines but not as data rows.
    std::string many = "a,b\n";
    for (int i = 0; i < 500; ++i) many += i % 7 == 0 ? "\n1,2\n" : "1,2\n";
    EXPECT_THAT(ErrorOf(many + "1,2,3\n"), HasSubstr("line 574 (data row 501): 3 fields"));
    // CRLF line ends (after a quote too), line breaks inside quotes and
    // blank lines each count once, however blocks and threads split them:
    // 60 records of three lines and 240 of one follow the header.
    std::string crlf = "a,b\r\n";
    for (int i = 0; i < 300; ++i) crlf += i % 5 == 0 ? "\"x\r\ny\",2\r\n\r\n" : "1,\"2\"\r\n";
    EXPECT_THAT(ErrorOf(crlf + "1,2,3\r\n"), HasSubstr("line 422 (data row 301): 3 fields"));
    EXPECT_EQ(CsvReader::ReadString("a,b\n").fNRecords, 0u);
}

TEST(CsvReader, RecordsPastTheMemoryLimitMoveToAFile) {
    // The first block foretells a few long records; many short ones follow.
    std::string text = "a,pad\n";
    for (int i = 0; i < 5; ++i) text += std::to_string(i) + "," + std::string(2000, 'p') + "\n";
    for (int i = 0; i < 3000; ++i) text += std::to_string(i % 10) + ",q\n";
    const auto plan = [](const std::vector<std::string>& h) {
        std::vector<ColumnPlan> p(h.size());
        p[0].fbLoad = true;
        return p;
    };
    ReadOptions small;
    small.fBlockBytes = 4096;
    small.fMemoryLimit = 800;  // some 100 records of one value
    const CodedData d = CsvReader::ReadString(text, plan, small);
    EXPECT_TRUE(d.IsStreaming());
    EXPECT_EQ(d.fNRecords, 3005u);
    EXPECT_EQ(Dump(d), Dump(CsvReader::ReadString(text, plan)));
    // Held in memory, the store outgrows what the first block foretold and
    // moves while the scanning threads fault in the pages ahead.
    small.fMemoryLimit = ReadOptions().fMemoryLimit;
    small.fThreads = 2;
    const CodedData held = CsvReader::ReadString(text, plan, small);
    EXPECT_FALSE(held.IsStreaming());
    EXPECT_EQ(Dump(held), Dump(d));
}

TEST(CsvReader, StorePagesAheadAreFaultedInWhileRecordsAreAppended) {
    const std::size_t n = 3000;
    MemoryRecordStore store(3, n);
    for (const bool touch : {false, true})
        for (std::size_t i = 0; i < n / 2; i += 100) {
            // Past the next 100 records: zeroing it must spare them.
            const std::pair<char*, char*> room = store.RoomAfter(100, 500);
            std::thread faulting(
                [room, touch] { (touch ? TouchPages : FaultInPages)(room.first, room.second); });
            double* at = store.Append(100);
            EXPECT_EQ(room.first, reinterpret_cast<char*>(at + 300));
            for (std::size_t j = 0; j < 300; ++j) at[j] = static_cast<double>(3 * i + j + 1);
            faulting.join();
        }
    for (std::size_t i = 0; i < 3 * n; ++i)
        ASSERT_EQ(store.Contiguous()[i], static_cast<double>(i % (3 * n / 2) + 1)) << i;
    // The room ends where the reservation does; none past it.
    const std::pair<char*, char*> last = store.RoomAfter(0, 10);
    EXPECT_EQ(last.first, last.second);
    EXPECT_EQ(store.RoomAfter(1, 1).first, nullptr);

    // Present and writable, and a page's bytes before the range kept.
    const long page = ::sysconf(_SC_PAGESIZE);
    const auto bytes = static_cast<std::size_t>(page) * 16;
    for (const bool touch : {false, true}) {
        void* map =
            ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        ASSERT_NE(map, MAP_FAILED);
        char* base = static_cast<char*>(map);
        std::memset(base, 7, 100);
        (touch ? TouchPages : FaultInPages)(base + 100, base + 8 * page + 1);
        std::vector<unsigned char> present(16);
        ASSERT_EQ(::mincore(map, bytes, present.data()), 0);
        for (std::size_t p = 0; p < 16; ++p) EXPECT_EQ(present[p] & 1, p <= 8 ? 1 : 0) << p;
        EXPECT_EQ(base[99], 7);
        ::munmap(map, bytes);
    }
}

TEST(CsvReader, ASecondReadingIsToldAndEachGoesForward) {
    // Text at the end of a column of numbers: read again, from the start.
    std::string csv = "y,m\n";
    for (int i = 0; i < 200; ++i) csv += std::to_string(i) + "," + std::to_string(i % 3) + "\n";
    csv += "1,x\n";
    ReadOptions how;
    how.fBlockBytes = 64;
    std::vector<std::pair<std::size_t, int>> calls;
    how.fProgress = [&](std::size_t done, std::size_t total, int reading) {
        EXPECT_EQ(total, csv.size());
        calls.emplace_back(done, reading);
    };
    const CodedData d = CsvReader::ReadString(csv, nullptr, how);
    EXPECT_TRUE(d.fvColumns[1].IsText());
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls.front().second, 1);
    EXPECT_EQ(calls.back(), std::make_pair(csv.size(), 2));
    for (std::size_t i = 1; i < calls.size(); ++i) {
        // Forward within a reading; a new reading is numbered.
        if (calls[i].second == calls[i - 1].second)
            EXPECT_GT(calls[i].first, calls[i - 1].first) << i;
        else
            EXPECT_EQ(calls[i].second, calls[i - 1].second + 1) << i;
    }
}

TEST(CsvReader, DeclaredDelimiterTrimmedNamesAndTheRecordCap) {
    // A spreadsheet's first line names the delimiter; lines count from it.
    CodedData d = CsvReader::ReadString("sep=;\r\n\" y \";\"x\t\"\r\n1;2,5\r\n");
    EXPECT_EQ(d.fDelimiter, ';');
    EXPECT_TRUE(d.fbDelimiterDeclared);
    EXPECT_EQ(d.fvHeader, (std::vector<std::string>{"y", "x"}));
    EXPECT_EQ(Dump(d), "1 records, 1 used\ny: 1\nx: T2,5\n");
    EXPECT_EQ(MessageOf("sep=|\na|b\n1|2|3\n"),
              "<text>, line 3 (data row 1): 3 fields, but the header has 2");
    // Told, the delimiter is the one told, and a "sep=" line no declaration.
    ReadOptions comma;
    comma.fDelimiter = ',';
    d = CsvReader::ReadString("sep=;\na,b\n1,2\n", nullptr, comma);
    EXPECT_FALSE(d.fbDelimiterDeclared);
    EXPECT_EQ(d.fvHeader, (std::vector<std::string>{"a", "b"}));
    // A line longer than the cap is refused, where it starts.
    ReadOptions capped;
    capped.fBlockBytes = 16;
    capped.fMaxRecordBytes = 1 << 20;
    const std::string longLine = "a,b\n1,2\n3," + std::string(3 << 20, 'x');
    EXPECT_EQ(MessageOf(longLine, capped),
              "<text>, line 3: no line end in 1 MiB, the most a header or record may take (is it "
              "a CSV file?)");
    // The next block is read while this one is coded, but an error in this
    // one comes first in the input and is the one told.
    for (unsigned threads : {1u, 2u}) {
        capped.fThreads = threads;
        EXPECT_EQ(MessageOf("a,b\n1,2,3\n" + longLine.substr(8), capped),
                  "<text>, line 2 (data row 1): 3 fields, but the header has 2")
            << threads;
    }
    // Below the cap, a long record is read.
    capped.fMaxRecordBytes = 8 << 20;
    EXPECT_EQ(CsvReader::ReadString(longLine, nullptr, capped).fNRecords, 2u);
}

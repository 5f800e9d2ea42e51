// The bytes under the CSV reader: what a file's first bytes say it is,
// UTF-16 read as UTF-8, gzip read decompressed, and the delimiter a header
// line shows. Expected bytes are the UTF-8 and UTF-16 encodings worked out
// by hand from the code points.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "coded_dump.h"
#include "host/base/HostError.h"
#include "host/input/ByteSource.h"
#include "host/input/CsvReader.h"
#include "host/input/InputFormat.h"
#include "host/input/PartSource.h"
#include "host/input/Utf16Source.h"
#include "support/host_fixtures.h"

using namespace mchost;
using mchost_test::ThrownBy;
using testing::HasSubstr;

namespace {

namespace fs = std::filesystem;

InputFormat Sniff(const std::string& head, bool text = true) {
    return SniffInput(reinterpret_cast<const unsigned char*>(head.data()), head.size(), "'f'",
                      text);
}

// The message of the refusal, "" when the bytes are taken.
std::string Refusal(const std::string& head, bool text = true) {
    const mchost_test::Thrown e = ThrownBy([&] { Sniff(head, text); });
    EXPECT_TRUE(e.kind == 0 || e.kind == HostError::kData) << e.kind;
    return e.message;
}

// Everything a source gives, read chunk bytes at a time.
std::string ReadAll(ByteSource& s, std::size_t chunk) {
    std::string out;
    std::vector<char> buf(chunk);
    while (const std::size_t n = s.Read(buf.data(), chunk)) out.append(buf.data(), n);
    return out;
}

// Code units as little- or big-endian bytes.
std::string Utf16(const std::vector<unsigned>& units, bool bigEndian) {
    std::string out;
    for (unsigned u : units) {
        const char lo = static_cast<char>(u & 0xFF), hi = static_cast<char>(u >> 8);
        out += bigEndian ? std::string{hi, lo} : std::string{lo, hi};
    }
    return out;
}

std::string Decode(const std::string& bytes, bool bigEndian, std::size_t chunk) {
    Utf16Source s(std::make_unique<StringSource>(bytes, "in.csv"), bigEndian);
    return ReadAll(s, chunk);
}

// A gzip file of bytes, written with zlib.
void WriteGzip(const fs::path& path, const std::string& bytes) {
    gzFile out = gzopen(path.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    ASSERT_EQ(gzwrite(out, bytes.data(), static_cast<unsigned>(bytes.size())),
              static_cast<int>(bytes.size()));
    gzclose(out);
}

}  // namespace

TEST(InputFormat, SignaturesAndTextEncodingsAreToldByTheFirstBytes) {
    EXPECT_EQ(Sniff("y,x\n1,2"), InputFormat::kPlain);
    EXPECT_EQ(Sniff(""), InputFormat::kPlain);
    EXPECT_EQ(Sniff("\xEF\xBB\xBFy,x"), InputFormat::kPlain);  // UTF-8's mark is plain text
    EXPECT_EQ(Sniff("\x1F\x8B\x08\x00"), InputFormat::kGzip);
    EXPECT_EQ(Sniff("\xFF\xFEy\0"), InputFormat::kUtf16LE);
    EXPECT_EQ(Sniff("\xFE\xFF\0y"), InputFormat::kUtf16BE);
    // Without a mark: a zero byte beside each of the first two characters.
    EXPECT_EQ(Sniff(std::string("y\0,\0", 4)), InputFormat::kUtf16LE);
    EXPECT_EQ(Sniff(std::string("\0y\0,", 4)), InputFormat::kUtf16BE);
    EXPECT_EQ(Sniff(std::string("y\0", 2)), InputFormat::kPlain);  // too short to tell

    // What the reader cannot read is refused by name, with what to do.
    EXPECT_THAT(Refusal("BZh91AY"), HasSubstr("'f' is a bzip2-compressed file: decompress it"));
    EXPECT_THAT(Refusal(std::string("\xFD"
                                    "7zXZ\0",
                                    6)),
                HasSubstr("xz-compressed"));
    EXPECT_THAT(Refusal("\x28\xB5\x2F\xFD"), HasSubstr("zstd-compressed"));
    EXPECT_THAT(Refusal("PK\x03\x04"), HasSubstr("a zip archive"));
    EXPECT_THAT(Refusal("7z\xBC\xAF\x27\x1C"), HasSubstr("7-Zip"));
    EXPECT_THAT(Refusal("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"), HasSubstr("Excel (.xls)"));
    EXPECT_THAT(Refusal(std::string("\xFF\xFE\0\0", 4)), HasSubstr("is in UTF-32"));
    EXPECT_THAT(Refusal(std::string("\0\0\xFE\xFF", 4)), HasSubstr("is in UTF-32"));
    // A binary record file may start with any bytes: a short signature and
    // the text encodings are no sign there; a long signature still is.
    EXPECT_EQ(Refusal("BZh91AY", false), "");
    EXPECT_EQ(Sniff("\xFF\xFEy\0", false), InputFormat::kPlain);
    EXPECT_THAT(Refusal("PK\x03\x04", false), HasSubstr("zip archive"));
    EXPECT_EQ(Sniff("\x1F\x8B\x08\x00", false), InputFormat::kGzip);
}

TEST(Utf16Source, DecodesPairsAndReplacesWhatIsBroken) {
    // "y,é\n" then U+4E2D and U+1F600 (the pair D83D DE00), after the mark.
    const std::vector<unsigned> units = {0xFEFF, 'y', ',', 0xE9, '\n', 0x4E2D, 0xD83D, 0xDE00};
    const std::string want = "y,\xC3\xA9\n\xE4\xB8\xAD\xF0\x9F\x98\x80";
    for (bool be : {false, true})
        for (std::size_t chunk : {1, 2, 3, 7, 4096})
            EXPECT_EQ(Decode(Utf16(units, be), be, chunk), want) << be << " " << chunk;
    // Without the mark the text is the same.
    EXPECT_EQ(Decode(Utf16({'a', 0x00FF}, false), false, 64), "a\xC3\xBF");
    // A lone high or low surrogate and a last half unit read as U+FFFD.
    const std::string fffd = "\xEF\xBF\xBD";
    EXPECT_EQ(Decode(Utf16({'a', 0xD83D, 'b'}, false), false, 64), "a" + fffd + "b");
    EXPECT_EQ(Decode(Utf16({'a', 0xDE00, 'b'}, true), true, 64), "a" + fffd + "b");
    EXPECT_EQ(Decode(Utf16({'a', 0xD83D}, false), false, 64), "a" + fffd);
    EXPECT_EQ(Decode(Utf16({'a'}, false) + "b", false, 64), "a" + fffd);
    // The largest code point, U+10FFFF (DBFF DFFF), in four bytes.
    EXPECT_EQ(Decode(Utf16({0xDBFF, 0xDFFF}, false), false, 64), "\xF4\x8F\xBF\xBF");

    // Read again from the start; named with its encoding.
    Utf16Source s(std::make_unique<StringSource>(Utf16(units, false), "in.csv"), false);
    EXPECT_EQ(s.Name(), "in.csv (UTF-16)");
    EXPECT_EQ(ReadAll(s, 5), want);
    ASSERT_TRUE(s.Rewind());
    EXPECT_EQ(ReadAll(s, 4096), want);
}

TEST(OpenSource, GzipAndUtf16FilesReadAsTheirText) {
    const std::string csv = "y,g\n1,\xC3\xA9t\xC3\xA9\n2,hiver\n3,\xC3\xA9t\xC3\xA9\n";
    const mchost_test::TempDir dir;
    const std::string tempDir = dir.path.string(), gz = dir / "in.csv.gz";
    WriteGzip(gz, csv);
    auto source = OpenSource(gz, tempDir);
    EXPECT_THAT(source->Name(), HasSubstr("(gzip-compressed)"));
    EXPECT_EQ(ReadAll(*source, 5), csv);
    ASSERT_TRUE(source->Rewind());
    EXPECT_EQ(ReadAll(*source, 1 << 16), csv);

    // UTF-16 with its mark, compressed: both layers come off.
    std::vector<unsigned> units = {0xFEFF};
    for (unsigned char c : std::string("y,g\n1,\xE9t\xE9\n"))  // Latin-1 bytes are code points
        units.push_back(c);
    WriteGzip(dir / "both.csv.gz", Utf16(units, true));
    source = OpenSource(dir / "both.csv.gz", tempDir);
    EXPECT_EQ(ReadAll(*source, 3), "y,g\n1,\xC3\xA9t\xC3\xA9\n");

    // The CSV reader on such a file: the categories are the texts.
    const CodedData d = CsvReader::ReadFile(gz, nullptr);
    EXPECT_EQ(mchost_test::Dump(d),
              "3 records, 3 used\ny: 1 2 3\ng: T\xC3\xA9t\xC3\xA9 Thiver T"
              "\xC3\xA9t\xC3\xA9\n");
    // A file that is not there is named.
    const mchost_test::Thrown missing = ThrownBy([&] { OpenSource(gz + ".missing", tempDir); });
    EXPECT_EQ(missing.kind, HostError::kData);
    EXPECT_THAT(missing.message, HasSubstr(".missing"));
}

TEST(CsvReader, TheHeaderLineShowsTheDelimiter) {
    // Semicolons only, or tabs only: that is the delimiter, and a decimal
    // comma stays inside its cell (read as text).
    CodedData d = CsvReader::ReadString("y;x\n1;2,5\n2;3\n");
    EXPECT_EQ(d.fDelimiter, ';');
    EXPECT_FALSE(d.fbDelimiterDeclared);
    EXPECT_EQ(mchost_test::Dump(d), "2 records, 2 used\ny: 1 2\nx: T2,5 T3\n");
    d = CsvReader::ReadString("y\tx name\n1\t2\n");
    EXPECT_EQ(d.fDelimiter, '\t');
    EXPECT_EQ(d.fvHeader, (std::vector<std::string>{"y", "x name"}));
    // A comma anywhere in the header, or both semicolons and tabs: commas.
    EXPECT_EQ(CsvReader::ReadString("y;a,x\n1;2,3\n").fDelimiter, ',');
    EXPECT_EQ(CsvReader::ReadString("y;a\tx\n1\n").fDelimiter, ',');
    // A quoted name may hold a semicolon.
    d = CsvReader::ReadString("\"y;z\",x\n1,2\n");
    EXPECT_EQ(d.fDelimiter, ',');
    EXPECT_EQ(d.fvHeader, (std::vector<std::string>{"y;z", "x"}));
    // Told a delimiter, the reader takes it.
    ReadOptions pipe;
    pipe.fDelimiter = '|';
    d = CsvReader::ReadString("y|x\n1|2\n", nullptr, pipe);
    EXPECT_EQ(d.fvHeader, (std::vector<std::string>{"y", "x"}));
    EXPECT_EQ(mchost_test::Dump(d), "1 records, 1 used\ny: 1\nx: 2\n");
}

namespace {

// Each record's cells as read, "|" between them: a text as it is, a number
// as its shortest text, "NA" for missing.
std::vector<std::string> Records(const CodedData& d) {
    std::vector<std::string> rows;
    auto it = d.fpStore->MakeIterator();
    for (it->NewPass(); const auto* r = it->Next();) {
        std::string row;
        for (std::size_t j = 0; j < d.fvColumns.size(); ++j) {
            const CodedColumn& c = d.fvColumns[j];
            const double v = (*r)[static_cast<int>(j)];
            row += (j == 0 ? "" : "|") + (std::isnan(v) ? std::string("NA")
                                          : c.IsText()
                                              ? c.fTexts.GetTexts()[static_cast<std::size_t>(v)]
                                              : NumberText(v));
        }
        rows.push_back(row);
    }
    return rows;
}

// Reads part `part` of `parts` of text, placing messages in the whole.
CodedData ReadPart(const std::string& text, int part, int parts, ReadOptions options = {}) {
    StringSource whole(text, "data.csv");
    PartSource source(whole, part, parts);
    options.fRowsBefore = source.RowsBefore();
    options.fByteShift = source.ByteShift();
    return CsvReader::Read(source, nullptr, options);
}

}  // namespace

TEST(PartSource, ThePartsHoldEveryRecordOnceInOrder) {
    // A byte order mark, a line that declares the delimiter, blank lines,
    // quoted fields over several lines with delimiters and quotes in them,
    // and every kind of line end.
    std::string text = "\xEF\xBB\xBFsep=;\r\n\n\"na;me\";x;t\r\n";
    const char* ends[] = {"\n", "\r\n", "\r", "\n\n", "\r\n\r\n"};
    for (int i = 0; i < 120; ++i) {
        const std::string name = i % 4 == 1
                                     ? "\"n" + std::to_string(i) + ";\r\nsecond \"\"line\"\"\n\""
                                     : "n" + std::to_string(i);
        text += name + ";" + std::to_string(i * 0.25) + ";" +
                (i % 7 == 3 ? "" : "t" + std::to_string(i % 5)) + ends[i % 5];
    }
    const std::vector<std::string> whole = Records(CsvReader::ReadString(text));
    ASSERT_EQ(whole.size(), 120u);
    EXPECT_EQ(whole[1], "n1;\r\nsecond \"line\"\n|0.25|t1");
    for (int parts : {1, 2, 3, 5, 16, 200}) {
        std::vector<std::string> got;
        for (int part = 0; part < parts; ++part) {
            const CodedData d = ReadPart(text, part, parts);
            EXPECT_EQ(d.fvHeader, (std::vector<std::string>{"na;me", "x", "t"}));
            const std::vector<std::string> rows = Records(d);
            got.insert(got.end(), rows.begin(), rows.end());
        }
        EXPECT_EQ(got, whole) << parts << " parts";
    }
}

TEST(PartSource, MessagesPlaceARecordInTheWholeInput) {
    std::string text = "a,b\n";
    for (int i = 0; i < 60; ++i) text += std::to_string(i) + (i % 3 == 0 ? ",\"x\ny\"\n" : ",z\n");
    const auto broken = [&](const std::string& bad) {
        std::string t = text;
        return t.insert(t.find("50,"), bad);
    };
    for (const std::string& bad :
         {std::string("1,2,3\n"), std::string("1,a\"b\"\n"), std::string("1,q\n2,\"open\n")}) {
        SCOPED_TRACE(bad);
        const std::string t = broken(bad);
        const std::string want = ThrownBy([&] {
                                     StringSource whole(t, "data.csv");
                                     CsvReader::Read(whole, nullptr);
                                 }).message;
        EXPECT_THAT(want, HasSubstr("line "));
        for (int parts : {2, 3, 4}) {
            std::string got;
            for (int part = 0; part < parts && got.empty(); ++part)
                got = ThrownBy([&] { ReadPart(t, part, parts); }).message;
            EXPECT_EQ(got, want) << parts << " parts";
        }
    }
}

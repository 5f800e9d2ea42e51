// libFuzzer target: arbitrary bytes as a CSV file. Byte 0 picks the block
// size and which columns are loaded, categorical or weights, byte 1 the
// delimiter and the missing-value markers; the rest is the file. Some
// columns are read as numeric: a text cell among numbers is then an error. Besides the sanitizers,
// the target traps when the coded data break an invariant: every record has a value per loaded
// column, a coded value indexes its column's dictionary, a column is never both numeric and text,
// no more records are used than read, dictionaries hold distinct entries; or when reading in
// memory, streamed through a temporary file, and in small blocks on one or two threads do not give
// the same data (or the same error); or when the reader's number rule reads a number other than
// std::from_chars does. The first bytes are first looked at as the program does: an archive's
// signature must be refused as a data error, and a UTF-16 text is decoded, which must give
// well-formed UTF-8, the same whether read in one piece or byte by byte; the decoded text is then
// the CSV.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "companion/Utf8.h"
#include "host/base/HostError.h"
#include "host/base/NumberText.h"
#include "host/input/CsvReader.h"
#include "host/input/CsvScanner.h"
#include "host/input/InputFormat.h"
#include "host/input/Utf16Source.h"

using namespace mchost;

namespace {

void Require(bool condition) {
    if (!condition) __builtin_trap();
}

std::string Dump(const CodedData& d, const std::vector<std::string>& na) {
    Require(d.fNUsed <= d.fNRecords);
    Require(d.fpStore->GetNRecords() == d.fNRecords);
    std::string dump = std::to_string(d.fNRecords) + "/" + std::to_string(d.fNUsed) + "\n";
    for (const CodedColumn& c : d.fvColumns) {
        Require(!c.IsMixed());
        const auto& texts = c.fTexts.GetTexts();
        Require(std::set<std::string>(texts.begin(), texts.end()).size() == texts.size());
        for (const std::string& t : texts)
            Require(!t.empty() && std::find(na.begin(), na.end(), t) == na.end());
        dump += c.fName + "\x1f";
    }
    auto it = d.fpStore->MakeIterator();
    std::size_t n = 0;
    for (it->NewPass(); const auto* r = it->Next(); ++n) {
        for (std::size_t j = 0; j < d.fvColumns.size(); ++j) {
            const CodedColumn& c = d.fvColumns[j];
            const double v = (*r)[static_cast<int>(j)];
            if (std::isnan(v)) {
                dump += "NA";
            } else if (c.IsCoded()) {
                const std::size_t size = c.IsText() ? c.fTexts.Size() : c.fNumbers.Size();
                Require(v >= 0 && v == std::floor(v) && v < static_cast<double>(size));
                const auto k = static_cast<std::size_t>(v);
                dump += c.IsText() ? "T" + c.fTexts.GetTexts()[k]
                                   : "N" + NumberText(c.fNumbers.GetNumbers()[k]);
            } else {
                Require(std::isfinite(v));
                dump += NumberText(v);
            }
            dump += "\x1e";
        }
    }
    Require(n == d.fNRecords);
    return dump;
}

std::string Read(const std::string& text, unsigned mask, const ReadOptions& how) {
    auto plan = [mask](const std::vector<std::string>& header) {
        std::vector<ColumnPlan> p(header.size());
        for (std::size_t i = 0; i < p.size(); ++i) {
            p[i].fbLoad = ((mask >> (i % 4)) & 1) != 0 || i == 0;
            p[i].fbCategorical = i % 3 == 1;
            p[i].fbWeight = i % 5 == 2;
            p[i].fbNumeric = i % 4 == 2;
        }
        return p;
    };
    try {
        return Dump(CsvReader::ReadString(text, plan, how), how.fvNaValues);
    } catch (const HostError& e) {
        Require(e.GetKind() == HostError::kData);
        return std::string("error: ") + e.what();
    }
}

// A text handed out at most fPiece bytes a time, as a pipe may.
class Dribble : public ByteSource {
public:
    Dribble(const std::string& text, std::size_t piece) : fText(text), fPiece(piece) {}
    std::size_t Read(char* buf, std::size_t n) override {
        return fText.Read(buf, std::min(n, fPiece));
    }
    bool Rewind() override { return fText.Rewind(); }
    std::size_t Size() const override { return fText.Size(); }
    const std::string& Name() const override { return fText.Name(); }

private:
    StringSource fText;
    std::size_t fPiece;
};

// The UTF-8 of a UTF-16 text, read piece bytes at a time.
std::string Decode(const std::string& text, bool bigEndian, std::size_t piece) {
    Utf16Source source(std::make_unique<Dribble>(text, piece), bigEndian);
    std::string out;
    std::vector<char> buf(piece);
    for (std::size_t got; (got = source.Read(buf.data(), piece)) > 0;) out.append(buf.data(), got);
    return out;
}

// What the program reads for the bytes: the text itself, or its UTF-8 when
// it is UTF-16; false when it is refused.
bool AsRead(std::string& text) {
    InputFormat format = InputFormat::kPlain;
    try {
        format = SniffInput(reinterpret_cast<const unsigned char*>(text.data()),
                            std::min(text.size(), kSniffBytes), "input", true);
    } catch (const HostError& e) {
        Require(e.GetKind() == HostError::kData);
        return false;
    }
    if (format != InputFormat::kUtf16LE && format != InputFormat::kUtf16BE) return true;
    const bool big = format == InputFormat::kUtf16BE;
    const std::string utf8 = Decode(text, big, 1 << 16);
    Require(Decode(text, big, 1) == utf8);
    Require(Decode(text, big, 3) == utf8);
    for (std::size_t i = 0; i < utf8.size();)
        Require(MCCommon_850::Utf8::NextCodePoint(utf8, i) >= 0);
    text = utf8;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    std::string text(reinterpret_cast<const char*>(data) + 2, size - 2);
    if (!AsRead(text)) return 0;
    const unsigned mask = data[0] >> 4;
    const char delimiters[4] = {0, ',', ';', '\t'};
    const std::vector<std::vector<std::string>> markers = {
        {"NA"}, {}, {"NA", ".", "NULL"}, {"-999", "n/a"}};
    ReadOptions syntax;
    syntax.fDelimiter = delimiters[data[1] & 3u];
    syntax.fvNaValues = markers[(data[1] >> 2) & 3u];
    double v = 0, ref = 0;
    if (CsvScanner::ParseNumber(text.data(), text.size(), v) && text[0] != '+') {
        const auto r = std::from_chars(text.data(), text.data() + text.size(), ref);
        if (r.ec == std::errc()) Require(r.ptr == text.data() + text.size() && v == ref + 0.0);
    }
    ReadOptions whole = syntax;
    const std::string first = Read(text, mask, whole);
    ReadOptions streamed = syntax;
    streamed.fMemoryLimit = 0;
    Require(Read(text, mask, streamed) == first);
    for (unsigned threads : {1u, 3u}) {
        ReadOptions small = syntax;
        small.fBlockBytes = 1 + (data[0] & 15u) * 3;
        small.fMinSplitBytes = 1;
        small.fThreads = threads;
        Require(Read(text, mask, small) == first);
    }
    return 0;
}

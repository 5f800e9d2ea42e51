#include "host/CsvReader.h"

#include <csv.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>

#include "host/HostError.h"

namespace mchost {

namespace {

const unsigned char kBom[3] = {0xEF, 0xBB, 0xBF};

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

bool CsvReader::ParseNumber(const char* s, std::size_t n, double& v) {
    const char* p = s;
    const char* const end = s + n;
    if (p == end) return false;
    // from_chars takes neither a plus sign nor leading blanks, but it does
    // take "inf" and "nan", which are not numbers for a data column.
    if (*p == '+') ++p;
    const char* m = (p != end && *p == '-' && p == s) ? p + 1 : p;
    if (m == end || !(IsDigit(*m) || *m == '.')) return false;
    double x = 0.0;
    const auto res = std::from_chars(p, end, x, std::chars_format::general);
    if (res.ptr != end) return false;
    if (res.ec == std::errc::result_out_of_range) {
        // Underflow reads as (nearly) zero, overflow is no finite number;
        // strtod tells them apart.
        std::string copy(p, end);
        errno = 0;
        x = std::strtod(copy.c_str(), nullptr);
        if (!std::isfinite(x)) return false;
    } else if (res.ec != std::errc()) {
        return false;
    }
    v = x + 0.0;  // -0 and 0 are one category
    return true;
}

class CsvReader::Impl {
public:
    explicit Impl(ColumnSelector selector) : fSelector(std::move(selector)) {
        csv_init(&fParser, CSV_STRICT | CSV_STRICT_FINI | CSV_EMPTY_IS_NULL);
    }
    ~Impl() { csv_free(&fParser); }
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;

    void Feed(const char* data, std::size_t size);
    DataTable Finish();
    void SetSizeHint(std::size_t bytes) { fSizeHint = bytes; }
    void SetTextColumns(std::vector<bool> mask) { fvText = std::move(mask); }

private:
    // Per loaded column: an open-addressing table of text codes, hashed on
    // the cell's bytes so that looking up a cell copies nothing.
    class Dictionary {
    public:
        std::int32_t Intern(DataColumn& column, const char* s, std::size_t n);

    private:
        static std::uint64_t Hash(const char* s, std::size_t n) {
            std::uint64_t h = 1469598103934665603ull;
            for (std::size_t i = 0; i < n; ++i)
                h = (h ^ static_cast<unsigned char>(s[i])) * 1099511628211ull;
            return h ^ (h >> 29);
        }
        void Grow(const std::vector<std::string>& texts);

        std::vector<std::int32_t> fvSlots;  // -1 empty, else a text code
    };

    static void OnField(void* s, std::size_t n, void* self) {
        static_cast<Impl*>(self)->Field(static_cast<const char*>(s), n);
    }
    static void OnRecordEnd(int, void* self) { static_cast<Impl*>(self)->RecordEnd(); }

    void Field(const char* s, std::size_t n);
    void RecordEnd();
    void StartColumns();
    void Fail(std::string message) {
        if (!fbFailed) fError = std::move(message);
        fbFailed = true;
    }
    void ParseChunk(const char* data, std::size_t size);
    void ThrowIfFailed();

    csv_parser fParser;
    ColumnSelector fSelector;
    DataTable fTable;
    std::vector<std::string> fvHeader;
    std::vector<bool> fvKeep;
    std::vector<bool> fvText;
    std::vector<Dictionary> fvDicts;
    std::string fBomBuffer;
    std::size_t fNFields = 0;   // fields of the current record so far
    std::size_t fNRecords = 0;  // complete records, the header included
    std::size_t fNBytes = 0;    // consumed before the current chunk
    std::size_t fSizeHint = 0;  // expected input size, 0 when unknown
    bool fbReserved = false;
    bool fbHeaderDone = false;
    bool fbBomChecked = false;
    bool fbFinished = false;
    bool fbFailed = false;
    std::string fError;
    std::exception_ptr fpException;
};

void CsvReader::Impl::Field(const char* s, std::size_t n) {
    if (fbFailed) return;
    const std::size_t col = fNFields++;
    if (!fbHeaderDone) {
        fvHeader.emplace_back(s == nullptr ? std::string() : std::string(s, n));
        return;
    }
    if (col >= fvKeep.size() || !fvKeep[col]) return;
    DataColumn& c = fTable.GetColumns()[col];
    double v;
    if (s == nullptr || n == 0 || (n == 2 && s[0] == 'N' && s[1] == 'A'))
        c.AppendMissing();
    else if ((col >= fvText.size() || !fvText[col]) && ParseNumber(s, n, v))
        c.AppendNumber(v);
    else
        c.AppendText(fvDicts[col].Intern(c, s, n));
}

std::int32_t CsvReader::Impl::Dictionary::Intern(DataColumn& column, const char* s, std::size_t n) {
    const std::vector<std::string>& texts = column.GetTexts();
    if (fvSlots.size() < 2 * (texts.size() + 1)) Grow(texts);
    const std::size_t mask = fvSlots.size() - 1;
    for (std::size_t i = Hash(s, n) & mask;; i = (i + 1) & mask) {
        const std::int32_t code = fvSlots[i];
        if (code < 0) {
            fvSlots[i] = column.AddText(std::string(s, n));
            return fvSlots[i];
        }
        const std::string& t = texts[static_cast<std::size_t>(code)];
        if (t.size() == n && std::memcmp(t.data(), s, n) == 0) return code;
    }
}

void CsvReader::Impl::Dictionary::Grow(const std::vector<std::string>& texts) {
    std::size_t size = 16;
    while (size < 4 * (texts.size() + 1)) size *= 2;
    fvSlots.assign(size, -1);
    for (std::size_t k = 0; k < texts.size(); ++k) {
        std::size_t i = Hash(texts[k].data(), texts[k].size()) & (size - 1);
        while (fvSlots[i] >= 0) i = (i + 1) & (size - 1);
        fvSlots[i] = static_cast<std::int32_t>(k);
    }
}

void CsvReader::Impl::StartColumns() {
    std::vector<DataColumn>& cols = fTable.GetColumns();
    for (const std::string& name : fvHeader) cols.emplace_back(name);
    if (fSelector) {
        try {
            fvKeep = fSelector(fvHeader);
        } catch (...) {
            fpException = std::current_exception();
            fbFailed = true;
            return;
        }
    }
    if (fvKeep.empty()) fvKeep.assign(fvHeader.size(), true);
    fvKeep.resize(fvHeader.size(), false);
    for (std::size_t i = 0; i < cols.size(); ++i) cols[i].SetLoaded(fvKeep[i]);
    fvDicts.resize(fvHeader.size());
}

void CsvReader::Impl::RecordEnd() {
    if (fbFailed) return;
    const std::size_t nFields = fNFields;
    fNFields = 0;
    ++fNRecords;
    if (!fbHeaderDone) {
        fbHeaderDone = true;
        StartColumns();
        return;
    }
    if (nFields != fvHeader.size()) {
        Fail("record " + std::to_string(fNRecords) + " has " + std::to_string(nFields) +
             (nFields == 1 ? " field" : " fields") + " but the header has " +
             std::to_string(fvHeader.size()) + " (the header is record 1)");
        return;
    }
    fTable.SetNRows(fNRecords - 1);
}

void CsvReader::Impl::ThrowIfFailed() {
    if (fpException) std::rethrow_exception(fpException);
    if (fbFailed) throw HostError(HostError::kData, fError);
}

void CsvReader::Impl::ParseChunk(const char* data, std::size_t size) {
    const std::size_t done = csv_parse(&fParser, data, size, OnField, OnRecordEnd, this);
    ThrowIfFailed();
    if (done != size) {
        if (csv_error(&fParser) == CSV_EPARSE)
            throw HostError(HostError::kData,
                            "malformed quoting in record " + std::to_string(fNRecords + 1) +
                                " (byte " + std::to_string(fNBytes + done + 1) +
                                "): a quote must open and close the whole field, and a quote "
                                "inside a quoted field is written twice");
        throw HostError(HostError::kData,
                        std::string("CSV reader: ") + csv_strerror(csv_error(&fParser)));
    }
    fNBytes += size;
    // Growing a million-row column by doubling copies it several times;
    // the first piece tells how long a record is.
    if (!fbReserved && fSizeHint > 0 && fNRecords > 1) {
        fbReserved = true;
        const double perRecord = static_cast<double>(fNBytes) / static_cast<double>(fNRecords);
        const auto rows =
            static_cast<std::size_t>(static_cast<double>(fSizeHint) / perRecord * 1.05) + 16;
        for (std::size_t i = 0; i < fvKeep.size(); ++i)
            if (fvKeep[i]) fTable.GetColumns()[i].Reserve(rows);
    }
}

void CsvReader::Impl::Feed(const char* data, std::size_t size) {
    if (fbFinished) return;
    if (!fbBomChecked) {
        // The byte order mark may arrive split over pieces.
        const std::size_t take = std::min(size, 3 - fBomBuffer.size());
        fBomBuffer.append(data, take);
        data += take;
        size -= take;
        if (fBomBuffer.size() < 3) return;
        fbBomChecked = true;
        if (std::memcmp(fBomBuffer.data(), kBom, 3) == 0) {
            fNBytes += 3;
        } else {
            ParseChunk(fBomBuffer.data(), fBomBuffer.size());
        }
        fBomBuffer.clear();
    }
    if (size > 0) ParseChunk(data, size);
}

DataTable CsvReader::Impl::Finish() {
    if (!fbBomChecked) {
        fbBomChecked = true;
        if (!fBomBuffer.empty()) ParseChunk(fBomBuffer.data(), fBomBuffer.size());
    }
    fbFinished = true;
    const int rc = csv_fini(&fParser, OnField, OnRecordEnd, this);
    ThrowIfFailed();
    if (rc != 0)
        throw HostError(HostError::kData, "the last record (" + std::to_string(fNRecords + 1) +
                                              ") ends inside a quoted field");
    if (!fbHeaderDone) throw HostError(HostError::kData, "the file is empty: no header record");
    return std::move(fTable);
}

CsvReader::CsvReader(ColumnSelector selector)
    : fpImpl(std::make_unique<Impl>(std::move(selector))) {}
CsvReader::~CsvReader() = default;

void CsvReader::Feed(const char* data, std::size_t size) {
    fpImpl->Feed(data, size);
}
void CsvReader::SetSizeHint(std::size_t bytes) {
    fpImpl->SetSizeHint(bytes);
}
void CsvReader::SetTextColumns(std::vector<bool> mask) {
    fpImpl->SetTextColumns(std::move(mask));
}
DataTable CsvReader::Finish() {
    return fpImpl->Finish();
}

namespace {

// The loaded columns that hold both numbers and texts.
std::vector<bool> MixedColumns(const DataTable& t) {
    std::vector<bool> mixed;
    bool any = false;
    for (const DataColumn& c : t.GetColumns()) {
        mixed.push_back(c.IsLoaded() && c.IsMixed());
        any = any || mixed.back();
    }
    return any ? mixed : std::vector<bool>();
}

// Reads an input once or, when a column turned out to be a text column
// after numbers, twice: the second time only those columns, all as text.
template <class ReadOnce>
DataTable ReadAndFixMixed(ReadOnce readOnce, CsvReader::ColumnSelector selector) {
    DataTable t = readOnce(std::move(selector), std::vector<bool>());
    const std::vector<bool> mixed = MixedColumns(t);
    if (mixed.empty()) return t;
    DataTable texts = readOnce([mixed](const std::vector<std::string>&) { return mixed; }, mixed);
    for (std::size_t i = 0; i < mixed.size(); ++i)
        if (mixed[i]) t.GetColumns()[i] = std::move(texts.GetColumns()[i]);
    return t;
}

}  // namespace

DataTable CsvReader::ReadString(const std::string& text, ColumnSelector selector) {
    auto once = [&text](ColumnSelector sel, std::vector<bool> textColumns) {
        CsvReader r(std::move(sel));
        r.SetTextColumns(std::move(textColumns));
        r.Feed(text.data(), text.size());
        return r.Finish();
    };
    return ReadAndFixMixed(once, std::move(selector));
}

DataTable CsvReader::ReadFile(const std::string& path, ColumnSelector selector,
                              ProgressFn progress) {
    auto once = [&](ColumnSelector sel, std::vector<bool> textColumns) {
        std::FILE* f = std::fopen(path.c_str(), "rb");
        if (f == nullptr)
            throw HostError(HostError::kData,
                            "cannot open '" + path + "': " + std::strerror(errno));
        std::unique_ptr<std::FILE, int (*)(std::FILE*)> guard(f, std::fclose);
        CsvReader r(std::move(sel));
        r.SetTextColumns(std::move(textColumns));
        if (std::fseek(f, 0, SEEK_END) == 0) {
            const long size = std::ftell(f);
            if (size > 0) r.SetSizeHint(static_cast<std::size_t>(size));
            std::rewind(f);
        }
        std::vector<char> buf(1 << 20);
        std::size_t total = 0;
        for (;;) {
            const std::size_t got = std::fread(buf.data(), 1, buf.size(), f);
            if (got > 0) r.Feed(buf.data(), got);
            total += got;
            if (progress) progress(total);
            if (got < buf.size()) break;
        }
        if (std::ferror(f))
            throw HostError(HostError::kData,
                            "cannot read '" + path + "': " + std::strerror(errno));
        return r.Finish();
    };
    return ReadAndFixMixed(once, std::move(selector));
}

}  // namespace mchost

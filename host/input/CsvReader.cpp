#include "host/input/CsvReader.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <thread>

#include "host/base/HostError.h"
#include "host/input/CsvScanner.h"

namespace mchost {

namespace {

const unsigned char kBom[3] = {0xEF, 0xBB, 0xBF};

// A block, or less for a smaller input.
std::size_t BlockSize(const ByteSource& source, const ReadOptions& options) {
    std::size_t size = std::max<std::size_t>(options.fBlockBytes, 16);
    if (source.Size() > 0) size = std::min(size, source.Size() + 1);
    return size;
}

// One reading of the input, block by block. buf[0] is input byte fBase;
// [fPos, fEnd) holds the whole records not yet scanned and [fEnd, fFilled)
// the start of the next record.
class CsvPass {
public:
    CsvPass(ByteSource& source, const ReadOptions& options, int reading)
        : fSource(source),
          fOptions(options),
          fvBuf(BlockSize(source, options)),
          fReading(reading) {}

    // The data, or nothing when a column turned out mixed: its header
    // index is then added to textColumns.
    std::optional<CodedData> Run(const PlanFn& planFn, std::vector<int>& textColumns);

private:
    void Fill();
    // Moves fPos past a byte order mark and blank lines.
    void SkipToHeader();
    // Sets fEnd after the last whole record, growing the buffer as needed.
    void FindBlockEnd();
    void NextBlock();
    // record: the malformed record's number (the header is record 1);
    // partStart: where its run starts in the buffer.
    [[noreturn]] void Fail(const ScanError& e, std::size_t record, std::size_t partStart) const;
    // The line in the input of the byte at buf[at] (at >= fPos), from 1.
    std::size_t LineAt(std::size_t at) const {
        return 1 + fLinesBefore + CsvScanner::CountLineEnds(fvBuf.data() + fPos, fvBuf.data() + at);
    }
    // A comma unless told, or unless the header line splits only on
    // semicolons or only on tabs.
    char ChooseDelimiter() const;
    void CheckInterrupt() const {
        if (fOptions.fpInterrupt != nullptr && fOptions.fpInterrupt->load())
            throw HostError(HostError::kInterrupted, "interrupted");
    }

    ByteSource& fSource;
    const ReadOptions& fOptions;
    std::vector<char> fvBuf;
    std::size_t fBase = 0;
    std::size_t fPos = 0;
    std::size_t fEnd = 0;
    std::size_t fFilled = 0;
    bool fbEof = false;
    std::size_t fNHeaderFields = 0;
    std::size_t fLinesBefore = 0;  // line ends before buf[fPos]
    char fDeclaredDelimiter = 0;   // by a first line "sep=;"
    int fReading;                  // 1 for the first reading of the input
};

void CsvPass::Fill() {
    while (fFilled < fvBuf.size() && !fbEof) {
        const std::size_t got = fSource.Read(fvBuf.data() + fFilled, fvBuf.size() - fFilled);
        if (got == 0) fbEof = true;
        fFilled += got;
    }
}

void CsvPass::FindBlockEnd() {
    for (;;) {
        Fill();
        if (fbEof) {
            fEnd = fFilled;
            return;
        }
        const char* b = fvBuf.data() + fPos;
        fEnd = static_cast<std::size_t>(CsvScanner::LastRecordEnd(b, fvBuf.data() + fFilled) -
                                        fvBuf.data());
        if (fEnd > fPos) return;
        if (fFilled - fPos >= fOptions.fMaxRecordBytes)
            throw HostError(HostError::kData,
                            fSource.Name() + ", line " + std::to_string(LineAt(fPos)) +
                                ": no line end in " +
                                std::to_string(fOptions.fMaxRecordBytes >> 20) +
                                " MiB, the most a header or record may take (is it a CSV "
                                "file?)");
        fvBuf.resize(fvBuf.size() * 2);  // a record longer than the block
    }
}

void CsvPass::NextBlock() {
    std::memmove(fvBuf.data(), fvBuf.data() + fEnd, fFilled - fEnd);
    fBase += fEnd;
    fFilled -= fEnd;
    fPos = fEnd = 0;
    FindBlockEnd();
}

void CsvPass::Fail(const ScanError& e, std::size_t record, std::size_t partStart) const {
    const std::size_t line = LineAt(partStart + e.fRecordByte);
    const std::string where =
        record == 1 ? fSource.Name() + ", line " + std::to_string(line) + " (the header)"
                    : CellPlace(fSource.Name(), line, record - 1 + fOptions.fRowsBefore);
    const long long shift = record == 1 ? 0 : fOptions.fByteShift;
    switch (e.fKind) {
        case ScanError::kFieldCount:
            throw HostError(HostError::kData, where + ": " + std::to_string(e.fNFields) +
                                                  (e.fNFields == 1 ? " field" : " fields") +
                                                  ", but the header has " +
                                                  std::to_string(fNHeaderFields));
        case ScanError::kOpenQuote:
            throw HostError(HostError::kData,
                            where + ": a quoted field that starts here is never closed");
        default:
            throw HostError(
                HostError::kData,
                where + ": malformed quoting at byte " +
                    std::to_string(static_cast<long long>(fBase + partStart + e.fByte + 1) +
                                   shift) +
                    " of the file (line " + std::to_string(LineAt(partStart + e.fByte)) +
                    "): a quote must open and close the whole field, and a quote "
                    "inside a quoted field is written twice");
    }
}

char CsvPass::ChooseDelimiter() const {
    if (fOptions.fDelimiter != 0) return fOptions.fDelimiter;
    if (fDeclaredDelimiter != 0) return fDeclaredDelimiter;
    const char* b = fvBuf.data() + fPos;
    const char* e = fvBuf.data() + fEnd;
    const char* lineEnd = std::find_if(b, e, [](char c) { return c == '\n' || c == '\r'; });
    const bool comma = std::find(b, lineEnd, ',') != lineEnd;
    const bool semicolon = std::find(b, lineEnd, ';') != lineEnd;
    const bool tab = std::find(b, lineEnd, '\t') != lineEnd;
    if (!comma && semicolon && !tab) return ';';
    if (!comma && tab && !semicolon) return '\t';
    return ',';
}

void CsvPass::SkipToHeader() {
    Fill();
    if (fFilled >= 3 && std::memcmp(fvBuf.data(), kBom, 3) == 0) fPos = 3;
    // Spreadsheets write the delimiter in a first line of its own, "sep=;".
    const char* s = fvBuf.data() + fPos;
    const std::size_t left = fFilled - fPos;
    if (left >= 6 && (std::memcmp(s, "sep=", 4) == 0 || std::memcmp(s, "SEP=", 4) == 0) &&
        (s[5] == '\n' || s[5] == '\r') && s[4] != '"' && s[4] != '\n' && s[4] != '\r') {
        fDeclaredDelimiter = s[4];
        fPos += 5;
    }
    bool endedWithCr = false;  // as in Run
    for (;;) {
        const std::size_t from = fPos;
        while (fPos < fFilled && (fvBuf[fPos] == '\n' || fvBuf[fPos] == '\r')) ++fPos;
        fLinesBefore += CsvScanner::CountLineEnds(fvBuf.data() + from, fvBuf.data() + fPos,
                                                  fvBuf.data() + fFilled);
        if (endedWithCr && fPos > 0 && fvBuf[0] == '\n') --fLinesBefore;
        if (fPos < fFilled || fbEof) return;
        endedWithCr = fvBuf[fFilled - 1] == '\r';
        fBase += fFilled;  // a block of blank lines
        fPos = fFilled = 0;
        Fill();
    }
}

std::optional<CodedData> CsvPass::Run(const PlanFn& planFn, std::vector<int>& textColumns) {
    // With the blank lines before it skipped, the first record end after
    // fPos ends the header.
    SkipToHeader();
    FindBlockEnd();
    const char* p = fvBuf.data() + fPos;
    const char delimiter = ChooseDelimiter();
    std::vector<std::string> header;
    if (!CsvScanner::ScanHeader(p, fvBuf.data() + fEnd, header, delimiter)) {
        ScanError e;
        e.fKind = p == fvBuf.data() + fEnd ? ScanError::kOpenQuote : ScanError::kQuoting;
        e.fRecordByte = fPos;
        e.fByte = static_cast<std::size_t>(p - fvBuf.data());
        Fail(e, 1, 0);
    }
    if (header.empty())
        throw HostError(HostError::kData, fSource.Name() + " is empty: it has no header record");
    // A name is what the formula can say: the blanks a quoted one keeps
    // are dropped.
    for (std::string& name : header) {
        const auto blank = [&](char c) { return c == ' ' || (c == '\t' && delimiter != '\t'); };
        while (!name.empty() && blank(name.back())) name.pop_back();
        std::size_t lead = 0;
        while (lead < name.size() && blank(name[lead])) ++lead;
        name.erase(0, lead);
    }
    fNHeaderFields = header.size();
    fLinesBefore += CsvScanner::CountLineEnds(fvBuf.data() + fPos, p, fvBuf.data() + fFilled);
    fPos = static_cast<std::size_t>(p - fvBuf.data());

    std::vector<ColumnPlan> plan = MakePlan(planFn, header);
    for (int c : textColumns) plan[static_cast<std::size_t>(c)].fbText = true;

    DataCoder coder(fSource.Name(), header, plan, fOptions, fSource.Size());
    coder.SetDelimiter(delimiter, fOptions.fDelimiter == 0 && fDeclaredDelimiter != 0);
    CsvScanner scanners[2] = {CsvScanner(plan, delimiter, fOptions.fvNaValues),
                              CsvScanner(plan, delimiter, fOptions.fvNaValues)};
    CellChunk chunks[2];
    std::size_t records = 0;
    for (;;) {
        const char* b = fvBuf.data() + fPos;
        const char* e = fvBuf.data() + fEnd;
        const char* mid = e;
        if (fOptions.fbThreads && static_cast<std::size_t>(e - b) >= fOptions.fMinSplitBytes)
            mid = CsvScanner::NextRecordStart(b, b + (e - b) / 2, e);
        // The halves' lines are counted on their threads too; messages
        // find a record's line from them.
        const char* const filled = fvBuf.data() + fFilled;
        std::size_t lineEnds[2] = {0, 0};
        if (mid != e) {
            std::thread second([&] {
                scanners[1].Scan(mid, e, chunks[1]);
                lineEnds[1] = CsvScanner::CountLineEnds(mid, e, filled);
            });
            scanners[0].Scan(b, mid, chunks[0]);
            lineEnds[0] = CsvScanner::CountLineEnds(b, mid, filled);
            second.join();
        } else {
            scanners[0].Scan(b, e, chunks[0]);
            lineEnds[0] = CsvScanner::CountLineEnds(b, e, filled);
            chunks[1] = CellChunk();
        }
        const std::size_t starts[2] = {fPos, static_cast<std::size_t>(mid - fvBuf.data())};
        const std::size_t ends[2] = {starts[1], fEnd};
        for (int h = 0; h < 2; ++h) {
            // The records before a malformed one are coded first, so that
            // the error reported is the first in the file whatever the
            // block size.
            const CellChunk& c = chunks[h];
            const std::size_t runStart = starts[h];
            const LineOfFn lineOf = [&](std::size_t at) { return LineAt(runStart + at); };
            if (!coder.Add(c, ends[h] - starts[h], lineOf)) {
                const std::vector<int> mixed = coder.MixedColumns();
                textColumns.insert(textColumns.end(), mixed.begin(), mixed.end());
                return std::nullopt;
            }
            if (c.fError.fKind != ScanError::kNone)
                Fail(c.fError, records + c.fError.fRecord + 2, starts[h]);
            records += c.fNRecords;
        }
        if (fOptions.fProgress) fOptions.fProgress(fBase + fEnd, fSource.Size(), fReading);
        CheckInterrupt();
        if (fbEof && fEnd == fFilled) break;
        fLinesBefore += lineEnds[0] + lineEnds[1];
        // A CR that ended the buffer was counted as a line end; when the
        // LF of its CRLF begins the next block, that LF is the line end.
        const bool endedWithCr = fEnd == fFilled && fEnd > 0 && fvBuf[fEnd - 1] == '\r';
        NextBlock();
        if (endedWithCr && fFilled > 0 && fvBuf[0] == '\n') --fLinesBefore;
    }
    return coder.Finish();
}

}  // namespace

CodedData CsvReader::Read(ByteSource& source, const PlanFn& plan, const ReadOptions& options) {
    std::vector<int> textColumns;
    for (int reading = 1;; ++reading) {
        CsvPass pass(source, options, reading);
        std::optional<CodedData> data = pass.Run(plan, textColumns);
        if (data) return std::move(*data);
        if (!source.Rewind())
            throw HostError(HostError::kData,
                            "cannot read '" + source.Name() +
                                "' a second time, as a column that holds both numbers and "
                                "texts needs");
    }
}

CodedData CsvReader::ReadFile(const std::string& path, const PlanFn& plan,
                              const ReadOptions& options) {
    const std::unique_ptr<ByteSource> source =
        OpenSource(path, options.fTempDir, options.fpInterrupt);
    return Read(*source, plan, options);
}

CodedData CsvReader::ReadString(const std::string& text, const PlanFn& plan,
                                const ReadOptions& options) {
    StringSource source(text);
    return Read(source, plan, options);
}

}  // namespace mchost

#include "host/input/CsvReader.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <memory>
#include <optional>
#include <utility>

#include "host/base/HostError.h"
#include "host/input/CsvBlockScan.h"
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

// A block of the input in a buffer of its own: buf[0] is input byte
// fBase; [fPos, fEnd) holds whole records and [fEnd, fFilled) the start of
// the next record.
struct Block {
    std::vector<char> fvBuf;
    std::size_t fBase = 0;
    std::size_t fPos = 0;
    std::size_t fEnd = 0;
    std::size_t fFilled = 0;
    std::vector<std::size_t> fvStarts;  // record starts that split [fPos, fEnd) into pieces
    std::size_t fLinesBefore = 0;       // line ends before buf[fPos]

    const char* At(std::size_t i) const { return fvBuf.data() + i; }
    // The line in the input of the byte at buf[at] (at >= fPos), from 1.
    std::size_t LineAt(std::size_t at) const {
        return 1 + fLinesBefore + CsvScanner::CountLineEnds(At(fPos), At(at));
    }
};

// One reading of the input, block by block. Two blocks take turns, so
// that one is scanned while the records of the one before are coded.
class CsvPass {
public:
    CsvPass(ByteSource& source, const ReadOptions& options, int reading)
        : fSource(source),
          fOptions(options),
          fReading(reading),
          fMaxPieces(options.fThreads > 1 ? kPiecesPerThread * options.fThreads : 1) {
        fBlocks[0].fvBuf.resize(BlockSize(source, options));
    }

    // The data, or nothing when a column turned out mixed: its header
    // index is then added to textColumns.
    std::optional<CodedData> Run(const PlanFn& planFn, std::vector<int>& textColumns);

private:
    void Fill(Block& b);
    // Moves fPos past a byte order mark and blank lines.
    void SkipToHeader(Block& b);
    // Sets fEnd after the last whole record, growing the buffer as needed,
    // and fvStarts; false when no record ends within the most a record may
    // take.
    bool FindBlockEnd(Block& b);
    [[noreturn]] void FailTooLong(const Block& b) const;
    // Fills next with the rest of done's bytes and more, up to a record
    // end; false as FindBlockEnd.
    bool NextBlock(const Block& done, Block& next);
    // Once done's lines are counted.
    static void CountLinesBefore(const Block& done, std::size_t doneLineEnds, Block& next);
    // The store's memory that next's records will take, once done's
    // records, which scan holds, are coded: the scanning threads fault it
    // in meanwhile.
    static std::pair<char*, char*> RoomForNext(const Block& done, const Block& next,
                                               const CsvBlockScan& scan, DataCoder& coder);
    // record: the malformed record's number (the header is record 1);
    // partStart: where its run starts in the block's buffer.
    [[noreturn]] void Fail(const Block& b, const ScanError& e, std::size_t record,
                           std::size_t partStart) const;
    // A comma unless told, or unless the header line splits only on
    // semicolons or only on tabs.
    char ChooseDelimiter(const Block& b) const;
    // Codes a scanned block's pieces in order; false when a column turned
    // out mixed.
    bool Code(const Block& b, const CsvBlockScan& scan, DataCoder& coder, std::size_t& records,
              std::vector<int>& textColumns) const;
    void CheckInterrupt() const {
        if (fOptions.fpInterrupt != nullptr && fOptions.fpInterrupt->load())
            throw HostError(HostError::kInterrupted, "interrupted");
    }

    ByteSource& fSource;
    const ReadOptions& fOptions;
    Block fBlocks[2];
    bool fbEof = false;
    std::size_t fNHeaderFields = 0;
    char fDeclaredDelimiter = 0;  // by a first line "sep=;"
    int fReading;                 // 1 for the first reading of the input
    // Several pieces a thread, so that a thread that comes late to a block
    // (the caller, once it has coded the block before) still finds some,
    // and all end at about the same time.
    static constexpr std::size_t kPiecesPerThread = 4;
    std::size_t fMaxPieces;
};

void CsvPass::Fill(Block& b) {
    while (b.fFilled < b.fvBuf.size() && !fbEof) {
        const std::size_t got =
            fSource.Read(b.fvBuf.data() + b.fFilled, b.fvBuf.size() - b.fFilled);
        if (got == 0) fbEof = true;
        b.fFilled += got;
    }
}

bool CsvPass::FindBlockEnd(Block& b) {
    for (;;) {
        Fill(b);
        // Pieces of about equal bytes, none smaller than fMinSplitBytes. The
        // quotes before each record start are counted once, from the one
        // before, and the last record end is found from the last start.
        const char* s = b.At(b.fPos);
        const char* f = b.At(b.fFilled);
        const auto bytes = static_cast<std::size_t>(f - s);
        const std::size_t pieces = std::max<std::size_t>(
            1, std::min(fMaxPieces, bytes / std::max<std::size_t>(fOptions.fMinSplitBytes, 1)));
        b.fvStarts.clear();
        const char* last = s;
        for (std::size_t i = 1; i < pieces; ++i) {
            const char* at = s + bytes * i / pieces;
            if (at <= last) continue;
            const char* start = CsvScanner::NextRecordStart(last, at, f);
            if (start == f) break;
            b.fvStarts.push_back(static_cast<std::size_t>(start - b.At(0)));
            last = start;
        }
        const char* end = fbEof ? f : CsvScanner::LastRecordEnd(last, f);
        b.fEnd = static_cast<std::size_t>(end - b.At(0));
        while (!b.fvStarts.empty() && b.fvStarts.back() >= b.fEnd) b.fvStarts.pop_back();
        if (b.fEnd > b.fPos || fbEof) return true;
        if (b.fFilled - b.fPos >= fOptions.fMaxRecordBytes) return false;
        b.fvBuf.resize(b.fvBuf.size() * 2);  // a record longer than the block
    }
}

void CsvPass::FailTooLong(const Block& b) const {
    throw HostError(HostError::kData,
                    fSource.Name() + ", line " + std::to_string(b.LineAt(b.fPos)) +
                        ": no line end in " + std::to_string(fOptions.fMaxRecordBytes >> 20) +
                        " MiB, the most a header or record may take (is it a CSV file?)");
}

bool CsvPass::NextBlock(const Block& done, Block& next) {
    if (next.fvBuf.size() < done.fvBuf.size()) next.fvBuf.resize(done.fvBuf.size());
    std::memcpy(next.fvBuf.data(), done.At(done.fEnd), done.fFilled - done.fEnd);
    next.fBase = done.fBase + done.fEnd;
    next.fFilled = done.fFilled - done.fEnd;
    next.fPos = next.fEnd = 0;
    return FindBlockEnd(next);
}

void CsvPass::CountLinesBefore(const Block& done, std::size_t doneLineEnds, Block& next) {
    next.fLinesBefore = done.fLinesBefore + doneLineEnds;
    // A CR that ended the buffer was counted as a line end; when the LF of
    // its CRLF begins the next block, that LF is the line end.
    if (done.fEnd == done.fFilled && done.fEnd > 0 && done.fvBuf[done.fEnd - 1] == '\r' &&
        next.fFilled > 0 && next.fvBuf[0] == '\n')
        --next.fLinesBefore;
}

std::pair<char*, char*> CsvPass::RoomForNext(const Block& b, const Block& next,
                                             const CsvBlockScan& scan, DataCoder& coder) {
    // As many records as b has per byte, and an eighth more: pages faulted
    // in too early are filled by the block after.
    const std::size_t records = scan.Records();
    const std::size_t bytes = std::max<std::size_t>(b.fEnd - b.fPos, 1);
    const std::size_t ahead = records * (next.fEnd - next.fPos) / bytes + records / 8 + 1;
    return coder.RoomAhead(records, ahead);
}

void CsvPass::Fail(const Block& b, const ScanError& e, std::size_t record,
                   std::size_t partStart) const {
    const std::size_t line = b.LineAt(partStart + e.fRecordByte);
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
                    std::to_string(static_cast<long long>(b.fBase + partStart + e.fByte + 1) +
                                   shift) +
                    " of the file (line " + std::to_string(b.LineAt(partStart + e.fByte)) +
                    "): a quote must open and close the whole field, and a quote "
                    "inside a quoted field is written twice");
    }
}

char CsvPass::ChooseDelimiter(const Block& b) const {
    if (fOptions.fDelimiter != 0) return fOptions.fDelimiter;
    if (fDeclaredDelimiter != 0) return fDeclaredDelimiter;
    const char* s = b.At(b.fPos);
    const char* e = b.At(b.fEnd);
    const char* lineEnd = std::find_if(s, e, [](char c) { return c == '\n' || c == '\r'; });
    const bool comma = std::find(s, lineEnd, ',') != lineEnd;
    const bool semicolon = std::find(s, lineEnd, ';') != lineEnd;
    const bool tab = std::find(s, lineEnd, '\t') != lineEnd;
    if (!comma && semicolon && !tab) return ';';
    if (!comma && tab && !semicolon) return '\t';
    return ',';
}

void CsvPass::SkipToHeader(Block& b) {
    Fill(b);
    if (b.fFilled >= 3 && std::memcmp(b.At(0), kBom, 3) == 0) b.fPos = 3;
    // Spreadsheets write the delimiter in a first line of its own, "sep=;".
    const char* s = b.At(b.fPos);
    const std::size_t left = b.fFilled - b.fPos;
    if (left >= 6 && (std::memcmp(s, "sep=", 4) == 0 || std::memcmp(s, "SEP=", 4) == 0) &&
        (s[5] == '\n' || s[5] == '\r') && s[4] != '"' && s[4] != '\n' && s[4] != '\r') {
        fDeclaredDelimiter = s[4];
        b.fPos += 5;
    }
    bool endedWithCr = false;  // as in NextBlock
    for (;;) {
        const std::size_t from = b.fPos;
        while (b.fPos < b.fFilled && (b.fvBuf[b.fPos] == '\n' || b.fvBuf[b.fPos] == '\r')) ++b.fPos;
        b.fLinesBefore += CsvScanner::CountLineEnds(b.At(from), b.At(b.fPos), b.At(b.fFilled));
        if (endedWithCr && b.fPos > 0 && b.fvBuf[0] == '\n') --b.fLinesBefore;
        if (b.fPos < b.fFilled || fbEof) return;
        endedWithCr = b.fvBuf[b.fFilled - 1] == '\r';
        b.fBase += b.fFilled;  // a block of blank lines
        b.fPos = b.fFilled = 0;
        Fill(b);
    }
}

bool CsvPass::Code(const Block& b, const CsvBlockScan& scan, DataCoder& coder, std::size_t& records,
                   std::vector<int>& textColumns) const {
    for (std::size_t i = 0; i < scan.NPieces(); ++i) {
        // The records before a malformed one are coded first, so that the
        // error reported is the first in the file whatever the block size.
        const CellChunk& c = scan.Chunk(i);
        const auto runStart = static_cast<std::size_t>(scan.PieceStart(i) - b.At(0));
        const LineOfFn lineOf = [&](std::size_t at) { return b.LineAt(runStart + at); };
        if (!coder.Add(c, static_cast<std::size_t>(scan.PieceEnd(i) - scan.PieceStart(i)),
                       lineOf)) {
            const std::vector<int> mixed = coder.MixedColumns();
            textColumns.insert(textColumns.end(), mixed.begin(), mixed.end());
            return false;
        }
        if (c.fError.fKind != ScanError::kNone)
            Fail(b, c.fError, records + c.fError.fRecord + 2, runStart);
        records += c.fNRecords;
    }
    return true;
}

std::optional<CodedData> CsvPass::Run(const PlanFn& planFn, std::vector<int>& textColumns) {
    // With the blank lines before it skipped, the first record end after
    // fPos ends the header.
    Block& first = fBlocks[0];
    SkipToHeader(first);
    if (!FindBlockEnd(first)) FailTooLong(first);
    const char* p = first.At(first.fPos);
    const char delimiter = ChooseDelimiter(first);
    std::vector<std::string> header;
    if (!CsvScanner::ScanHeader(p, first.At(first.fEnd), header, delimiter)) {
        ScanError e;
        e.fKind = p == first.At(first.fEnd) ? ScanError::kOpenQuote : ScanError::kQuoting;
        e.fRecordByte = first.fPos;
        e.fByte = static_cast<std::size_t>(p - first.At(0));
        Fail(first, e, 1, 0);
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
    first.fLinesBefore +=
        CsvScanner::CountLineEnds(first.At(first.fPos), p, first.At(first.fFilled));
    first.fPos = static_cast<std::size_t>(p - first.At(0));

    std::vector<ColumnPlan> plan = MakePlan(planFn, header);
    for (int c : textColumns) plan[static_cast<std::size_t>(c)].fbText = true;

    DataCoder coder(fSource.Name(), header, plan, fOptions, fSource.Size());
    coder.SetDelimiter(delimiter, fOptions.fDelimiter == 0 && fDeclaredDelimiter != 0);
    const unsigned nThreads = std::max(fOptions.fThreads, 1u);
    // Started at the first block scanned in the background and kept to the
    // end of the pass; the scans, made after, are done with them first. The
    // calling thread is one of the scanning threads once it waits.
    std::unique_ptr<TaskThreads> threads;
    CsvBlockScan scans[2] = {CsvBlockScan(plan, delimiter, fOptions.fvNaValues),
                             CsvBlockScan(plan, delimiter, fOptions.fvNaValues)};
    const auto launch = [&](int k, bool background, std::pair<char*, char*> faultIn) {
        if (background && nThreads > 1 && !threads)
            threads = std::make_unique<TaskThreads>(nThreads - 1);
        scans[k].Launch(background ? threads.get() : nullptr, faultIn);
    };
    std::vector<const char*> starts;
    const auto split = [&](int k) {
        const Block& b = fBlocks[k];
        starts.clear();
        for (std::size_t at : b.fvStarts) starts.push_back(b.At(at));
        scans[k].Split(b.At(b.fPos), b.At(b.fEnd), b.At(b.fFilled), starts);
    };
    // A lone block of one piece is scanned where it is.
    split(0);
    launch(0, !(fbEof && first.fEnd == first.fFilled) || scans[0].NPieces() > 1, {});
    std::size_t records = 0;
    for (int cur = 0;; cur = 1 - cur) {
        Block& b = fBlocks[cur];
        Block& next = fBlocks[1 - cur];
        const bool last = fbEof && b.fEnd == b.fFilled;
        // The next block is read while this one is scanned and set scanning
        // while this one is coded. An error reading it waits until this
        // block's records, which come first in the input, are coded.
        std::exception_ptr nextError;
        bool tooLong = false;
        if (!last) {
            try {
                tooLong = !NextBlock(b, next);
                if (!tooLong) split(1 - cur);
            } catch (...) {
                nextError = std::current_exception();
            }
        }
        scans[cur].Wait();
        if (!last && !nextError) {
            CountLinesBefore(b, scans[cur].LineEnds(), next);
            if (!tooLong) launch(1 - cur, true, RoomForNext(b, next, scans[cur], coder));
        }
        if (!Code(b, scans[cur], coder, records, textColumns)) return std::nullopt;
        if (nextError) std::rethrow_exception(nextError);
        if (tooLong) FailTooLong(next);
        if (fOptions.fProgress) fOptions.fProgress(b.fBase + b.fEnd, fSource.Size(), fReading);
        CheckInterrupt();
        if (last) break;
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

#include "host/input/FrameReader.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "host/base/HostError.h"
#include "host/base/NumberText.h"
#include "host/input/CellChunk.h"
#include "host/input/CsvScanner.h"
#include "host/input/FrameRecordStore.h"

namespace mchost {

namespace {

constexpr std::size_t kBlockRows = std::size_t(1) << 16;

[[noreturn]] void FailValue(const std::string& source, const FrameColumn& col, double v,
                            std::size_t row, const ColumnPlan& plan) {
    throw HostError(HostError::kData, CellPlace(source, 0, row + 1) + ": " +
                                          (plan.fbWeight ? "weight '" : "column '") + col.fName +
                                          "' is " + NumberText(v) + "; a value must be finite");
}

std::unique_ptr<FrameRecordStore> MakeStore(const std::vector<FrameColumn>& columns,
                                            const std::vector<std::size_t>& loaded,
                                            std::size_t nRows) {
    std::vector<FrameRecordStore::Source> sources;
    for (std::size_t i : loaded) {
        FrameRecordStore::Source s;
        if (columns[i].fKind == FrameColumn::kCodes) {
            s.fpCodes = columns[i].fpCodes;
            s.fCodeBytes = columns[i].fCodeBytes;
        } else {
            s.fpNumbers = columns[i].fpNumbers;
            s.fpIntegers = columns[i].fpIntegers;
            s.fStride = columns[i].fStride;
        }
        sources.push_back(std::move(s));
    }
    return std::make_unique<FrameRecordStore>(std::move(sources), nRows);
}

double NumberAt(const FrameColumn& col, std::size_t r) {
    return StridedNumber(col.fpNumbers, col.fpIntegers, col.fStride, r);
}

// The text a CSV would hold for a number cell: an integer's own digits
// (a double would round one of more than 15), a double's shortest text.
std::string CellText(const FrameColumn& col, std::size_t r) {
    if (col.fpIntegers != nullptr)
        return std::to_string(
            *reinterpret_cast<const std::int64_t*>(reinterpret_cast<const char*>(col.fpIntegers) +
                                                   static_cast<std::ptrdiff_t>(r) * col.fStride));
    return NumberText(NumberAt(col, r));
}

// Whether a numeric column coded as categories holds a number that the
// CSV reader's rule would not code by value (more than 15 significant
// digits, as an identifier of 18): its column is then read as text.
bool NeedsText(const FrameColumn& col, std::size_t nRows) {
    for (std::size_t r = 0; r < nRows; ++r) {
        const double v = NumberAt(col, r);
        // Whole numbers below 1e15 have at most 15 digits.
        if (std::isnan(v) || (std::fabs(v) < 1e15 && v == std::floor(v))) continue;
        if (std::isinf(v)) continue;  // refused by the reading
        const std::string text = CellText(col, r);
        double parsed;
        if (!CsvScanner::ParseCategoryNumber(text.data(), text.size(), parsed)) return true;
    }
    return false;
}

// Tells the store how the records code column j's cells: a frame's
// categories through a table from its codes to the reading's, a numeric
// column coded as categories (by value or by its text) through codes made
// once for every row.
void CodeColumn(FrameRecordStore& store, std::size_t j, const FrameColumn& frame, CodedColumn& col,
                std::size_t nRows) {
    const ColumnPlan& p = col.fPlan;
    if (frame.fKind == FrameColumn::kCodes) {
        // Without a present cell the reading met no label: every cell is missing.
        if (col.fNTexts == 0) return;
        std::vector<double> value;
        for (const std::string& label : frame.fvLabels)
            value.push_back(col.fTexts.Intern(label.data(), label.size()));
        store.SetCodeValues(j, std::move(value));
        return;
    }
    if (!p.fbText && !p.fbCategorical) return;
    std::vector<std::int32_t> codes(nRows, -1);
    for (std::size_t r = 0; r < nRows; ++r) {
        const double v = NumberAt(frame, r);
        if (std::isnan(v)) continue;
        if (p.fbText) {
            const std::string text = CellText(frame, r);
            codes[r] = col.fTexts.Intern(text.data(), text.size());
        } else {
            codes[r] = col.fNumbers.Intern(v + 0.0);
        }
    }
    store.SetOwnCodes(j, std::move(codes), p.fbText ? col.fTexts.Size() : col.fNumbers.Size());
}

}  // namespace

CodedData FrameReader::Read(const std::vector<FrameColumn>& columns, std::size_t nRows,
                            const PlanFn& planFn, const ReadOptions& options,
                            const std::string& source) {
    std::vector<std::string> header;
    for (const FrameColumn& c : columns) header.push_back(c.fName);
    std::vector<ColumnPlan> plan = MakePlan(planFn, header);
    std::vector<std::size_t> loaded;
    for (std::size_t i = 0; i < plan.size() && i < columns.size(); ++i) {
        if (!plan[i].fbLoad) continue;
        loaded.push_back(i);
        if (columns[i].fKind == FrameColumn::kNumbers && plan[i].fbCategorical && !plan[i].fbText &&
            NeedsText(columns[i], nRows))
            plan[i].fbText = true;
    }
    const std::size_t nLoaded = loaded.size();
    DataCoder coder(source, header, plan, options, nRows * nLoaded * sizeof(double));
    // The records are made from the columns where they lie: the reading
    // only codes and checks them.
    std::unique_ptr<FrameRecordStore> owned = MakeStore(columns, loaded, nRows);
    FrameRecordStore& store = *owned;
    coder.UseStore(std::move(owned));

    const double nan = std::numeric_limits<double>::quiet_NaN();
    CellChunk chunk;
    for (std::size_t from = 0; from < nRows; from += kBlockRows) {
        if (options.fpInterrupt != nullptr && options.fpInterrupt->load())
            throw HostError(HostError::kInterrupted, "interrupted");
        const std::size_t to = std::min(nRows, from + kBlockRows);
        chunk.Reset(nLoaded);
        // Every label enters the run's dictionary in label order, so that
        // the column's codes are the labels' indices whatever rows a run has.
        for (std::size_t j = 0; j < nLoaded; ++j) {
            const FrameColumn& col = columns[loaded[j]];
            if (col.fKind != FrameColumn::kCodes) continue;
            for (const std::string& label : col.fvLabels)
                chunk.fvColumns[j].fTexts.Intern(label.data(), label.size());
        }
        for (std::size_t r = from; r < to; ++r) {
            double* out = chunk.NextRecord();
            for (std::size_t j = 0; j < nLoaded; ++j) {
                const FrameColumn& col = columns[loaded[j]];
                const ColumnPlan& p = plan[loaded[j]];
                ChunkColumn& c = chunk.fvColumns[j];
                if (col.fKind == FrameColumn::kCodes) {
                    const std::int32_t code = CodeAt(col.fpCodes, col.fCodeBytes, r);
                    if (code < 0 || static_cast<std::size_t>(code) >= col.fvLabels.size()) {
                        out[j] = nan;
                        continue;
                    }
                    ++c.fNTexts;
                    if (!c.fbHasWord) {
                        c.fbHasWord = true;
                        c.fFirstWordRecord = chunk.fNRecords;
                    }
                    out[j] = code;
                    continue;
                }
                const double v = NumberAt(col, r);
                if (std::isnan(v)) {
                    out[j] = nan;
                    continue;
                }
                if (std::isinf(v)) FailValue(source, col, v, r, p);
                if (p.fbText) {
                    // Read as the text a CSV would hold for the number.
                    const std::string text = CellText(col, r);
                    ++c.fNTexts;
                    out[j] = c.fTexts.Intern(text.data(), text.size());
                    continue;
                }
                ++c.fNNumbers;
                out[j] = p.fbCategorical ? c.fNumbers.Intern(v + 0.0) : v;
            }
            ++chunk.fNRecords;
        }
        // Text and number columns are apart from the start: no run mixes.
        coder.Add(chunk, (to - from) * nLoaded * sizeof(double));
        if (options.fProgress) options.fProgress(to, nRows, 1);
    }
    CodedData data = coder.Finish();
    for (std::size_t j = 0; j < nLoaded; ++j) {
        CodedColumn& c = data.fvColumns[j];
        const FrameColumn& frame = columns[static_cast<std::size_t>(c.fHeaderIndex)];
        c.fbDeclaredOrder = frame.fbDeclaredOrder;
        CodeColumn(store, j, frame, c, nRows);
    }
    return data;
}

}  // namespace mchost

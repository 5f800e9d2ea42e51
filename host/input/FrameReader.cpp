#include "host/input/FrameReader.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "host/base/HostError.h"
#include "host/base/NumberText.h"
#include "host/input/CellChunk.h"

namespace mchost {

namespace {

constexpr std::size_t kBlockRows = std::size_t(1) << 16;

[[noreturn]] void FailValue(const std::string& source, const FrameColumn& col, double v,
                            std::size_t row, const ColumnPlan& plan) {
    throw HostError(HostError::kData, CellPlace(source, 0, row + 1) + ": " +
                                          (plan.fbWeight ? "weight '" : "column '") + col.fName +
                                          "' is " + NumberText(v) + "; a value must be finite");
}

}  // namespace

CodedData FrameReader::Read(const std::vector<FrameColumn>& columns, std::size_t nRows,
                            const PlanFn& planFn, const ReadOptions& options,
                            const std::string& source) {
    std::vector<std::string> header;
    for (const FrameColumn& c : columns) header.push_back(c.fName);
    const std::vector<ColumnPlan> plan = MakePlan(planFn, header);
    std::vector<std::size_t> loaded;
    for (std::size_t i = 0; i < plan.size() && i < columns.size(); ++i)
        if (plan[i].fbLoad) loaded.push_back(i);
    const std::size_t nLoaded = loaded.size();
    DataCoder coder(source, header, plan, options, nRows * nLoaded * sizeof(double));

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
                    const std::int32_t code = col.fpCodes[r];
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
                const double v =
                    *reinterpret_cast<const double*>(reinterpret_cast<const char*>(col.fpNumbers) +
                                                     static_cast<std::ptrdiff_t>(r) * col.fStride);
                if (std::isnan(v)) {
                    out[j] = nan;
                    continue;
                }
                if (std::isinf(v)) FailValue(source, col, v, r, p);
                if (p.fbText) {
                    // Read as the text a CSV would hold for the number.
                    const std::string text = NumberText(v);
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
    for (CodedColumn& c : data.fvColumns)
        c.fbDeclaredOrder = columns[static_cast<std::size_t>(c.fHeaderIndex)].fbDeclaredOrder;
    return data;
}

}  // namespace mchost

#include "host/input/CodedData.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <numeric>

#include "host/base/Cores.h"
#include "host/base/HostError.h"
#include "host/base/NumberText.h"

namespace mchost {

std::size_t ReadOptions::DefaultMemoryLimit() {
    // Available counts the page cache the kernel can give back, which free
    // memory does not; asked once per process.
    static const std::size_t limit = [] {
        unsigned long long kb = 0;
        if (std::FILE* f = std::fopen("/proc/meminfo", "r")) {
            char line[256];
            while (std::fgets(line, sizeof line, f) != nullptr)
                if (std::sscanf(line, "MemAvailable: %llu kB", &kb) == 1) break;
            std::fclose(f);
        }
        if (kb == 0) {
            const long pages = ::sysconf(_SC_AVPHYS_PAGES), size = ::sysconf(_SC_PAGESIZE);
            kb = pages > 0 && size > 0 ? static_cast<unsigned long long>(pages) *
                                             static_cast<unsigned long long>(size) / 1024
                                       : 2ull << 20;
        }
        return static_cast<std::size_t>(kb) * 1024 / 2;
    }();
    return limit;
}

unsigned ReadOptions::DefaultThreads() {
    static const auto threads = static_cast<unsigned>(AvailableCores());
    return threads;
}

std::vector<ColumnPlan> MakePlan(const PlanFn& planFn, const std::vector<std::string>& header) {
    std::vector<ColumnPlan> plan = planFn ? planFn(header) : std::vector<ColumnPlan>();
    if (plan.empty()) {
        plan.resize(header.size());
        for (ColumnPlan& c : plan) c.fbLoad = true;
    }
    plan.resize(header.size());
    return plan;
}

Categories SortedCategories(const CodedColumn& column) {
    Categories c;
    std::vector<std::int32_t> codes;
    for (std::size_t k = 0; k < column.fvInUsed.size(); ++k)
        if (column.fvInUsed[k]) codes.push_back(static_cast<std::int32_t>(k));
    const auto at = [](std::int32_t code) { return static_cast<std::size_t>(code); };
    if (column.IsText()) {
        const std::vector<std::string>& texts = column.fTexts.GetTexts();
        if (!column.fbDeclaredOrder)
            std::sort(codes.begin(), codes.end(),
                      [&](std::int32_t a, std::int32_t b) { return texts[at(a)] < texts[at(b)]; });
        for (std::int32_t k : codes) c.fvLabels.push_back(texts[at(k)]);
        c.fvIndexOfCode.assign(texts.size(), -1);
    } else {
        const std::vector<double>& numbers = column.fNumbers.GetNumbers();
        std::sort(codes.begin(), codes.end(),
                  [&](std::int32_t a, std::int32_t b) { return numbers[at(a)] < numbers[at(b)]; });
        for (std::int32_t k : codes) c.fvLabels.push_back(NumberText(numbers[at(k)]));
        c.fvIndexOfCode.assign(numbers.size(), -1);
    }
    for (std::size_t i = 0; i < codes.size(); ++i)
        c.fvIndexOfCode[at(codes[i])] = static_cast<std::int32_t>(i);
    return c;
}

const CodedColumn* CodedData::FindColumn(int headerIndex) const {
    for (const CodedColumn& c : fvColumns)
        if (c.fHeaderIndex == headerIndex) return &c;
    return nullptr;
}

std::string CellPlace(const std::string& source, std::size_t line, std::size_t row) {
    if (line == 0) return source + ", data row " + std::to_string(row);
    return source + ", line " + std::to_string(line) + " (data row " + std::to_string(row) + ")";
}

DataCoder::DataCoder(std::string source, std::vector<std::string> header,
                     const std::vector<ColumnPlan>& plan, const ReadOptions& options,
                     std::size_t inputBytes)
    : fOptions(options), fInputBytes(inputBytes) {
    fData.fSource = std::move(source);
    fData.fvHeader = std::move(header);
    for (std::size_t i = 0; i < plan.size() && i < fData.fvHeader.size(); ++i) {
        if (!plan[i].fbLoad) continue;
        CodedColumn c;
        c.fName = fData.fvHeader[i];
        c.fHeaderIndex = static_cast<int>(i);
        c.fPosition = static_cast<int>(fData.fvColumns.size());
        c.fPlan = plan[i];
        fData.fvColumns.push_back(std::move(c));
    }
    fvRemap.resize(fData.fvColumns.size());
}

void DataCoder::ChooseStore(std::size_t recordsSeen, std::size_t bytesSeen) {
    const int nValues = static_cast<int>(fData.fvColumns.size());
    // The records the whole input holds, judged from the first run; an
    // input of unknown size streams.
    const double perRecord =
        recordsSeen > 0 ? static_cast<double>(bytesSeen) / static_cast<double>(recordsSeen) : 1.0;
    const double records = fInputBytes > 0 ? static_cast<double>(fInputBytes) / perRecord
                                           : std::numeric_limits<double>::infinity();
    const double bytes = records * nValues * sizeof(double);
    if (bytes <= static_cast<double>(fOptions.fMemoryLimit))
        fData.fpStore = std::make_unique<MemoryRecordStore>(
            nValues, static_cast<std::size_t>(records * 1.02) + 16);
    else
        fData.fpStore = std::make_unique<FileRecordStore>(nValues, fOptions.fTempDir);
}

bool DataCoder::Add(const CellChunk& chunk, std::size_t runBytes, const LineOfFn& lineOf) {
    if (chunk.fNRecords == 0) return true;
    if (!fData.fpStore) ChooseStore(chunk.fNRecords, runBytes);
    if (!MergeDictionaries(chunk, lineOf)) return false;
    CodeRecords(chunk);
    return true;
}

void DataCoder::SpillIfOverLimit(std::size_t more) {
    const auto* memory = dynamic_cast<const MemoryRecordStore*>(fData.fpStore.get());
    if (memory == nullptr) return;
    const std::size_t nValues = fData.fvColumns.size();
    if ((memory->GetNRecords() + more) * nValues * sizeof(double) <= fOptions.fMemoryLimit) return;
    // The first run foretold fewer records than came: from here on they go
    // to a file, those read so far first.
    auto file = std::make_unique<FileRecordStore>(static_cast<int>(nValues), fOptions.fTempDir);
    const std::size_t n = memory->GetNRecords();
    std::copy(memory->Contiguous(), memory->Contiguous() + n * nValues, file->Append(n));
    fData.fpStore = std::move(file);
}

std::pair<char*, char*> DataCoder::RoomAhead(std::size_t coming, std::size_t ahead) {
    auto* memory = dynamic_cast<MemoryRecordStore*>(fData.fpStore.get());
    if (memory == nullptr) return {};
    // Records that would pass the limit go to a file: none of that memory
    // would be filled.
    const std::size_t nValues = fData.fvColumns.size();
    if ((memory->GetNRecords() + coming + ahead) * nValues * sizeof(double) > fOptions.fMemoryLimit)
        return {};
    return memory->RoomAfter(coming, ahead);
}

void DataCoder::FailMixed(const CodedColumn& col) const {
    const std::string place =
        CellPlace(fData.fSource, col.fFirstTextLine, col.fFirstTextRow + 1 + fOptions.fRowsBefore);
    // Where a comma is the delimiter, "1,234" is more likely thousands.
    if (fData.fDelimiter != ',' && HasDecimalComma(col.FirstText()))
        throw HostError(HostError::kData,
                        place + ": column '" + col.fName + "' holds '" + col.FirstText() +
                            "': it looks like numbers with decimal commas, which are read as "
                            "text; write them with decimal points, or name the column in "
                            "--factors if it is a factor");
    throw HostError(
        HostError::kData,
        CellPlace(fData.fSource, col.fFirstTextLine, col.fFirstTextRow + 1 + fOptions.fRowsBefore) +
            ": column '" + col.fName + "' holds '" + col.FirstText() +
            "', which is neither a number nor a missing value (mark it with "
            "--na-values, or name the column in --factors if it is a factor)");
}

bool DataCoder::MergeDictionaries(const CellChunk& chunk, const LineOfFn& lineOf) {
    const std::size_t nCols = fData.fvColumns.size();
    bool mixed = false;
    for (std::size_t j = 0; j < nCols; ++j) {
        CodedColumn& col = fData.fvColumns[j];
        const ChunkColumn& run = chunk.fvColumns[j];
        std::vector<std::int32_t>& remap = fvRemap[j];
        remap.clear();
        if (run.fNTexts > 0) {
            for (const std::string& t : run.fTexts.GetTexts())
                remap.push_back(col.fTexts.Intern(t.data(), t.size()));
            if (run.fbHasWord && col.fFirstTextCode < 0) {
                col.fFirstTextRow = fData.fNRecords + run.fFirstWordRecord;
                col.fFirstTextCode = remap[static_cast<std::size_t>(
                    chunk.fvCells[run.fFirstWordRecord * nCols + j])];
                if (lineOf) col.fFirstTextLine = lineOf(run.fFirstWordByte);
            }
        } else if (col.fPlan.fbCategorical) {
            for (double v : run.fNumbers.GetNumbers()) remap.push_back(col.fNumbers.Intern(v));
        }
        // One of the two is empty unless the column is mixed.
        col.fvInUsed.resize(std::max(col.fTexts.Size(), col.fNumbers.Size()), 0);
        col.fNTexts += run.fNTexts;
        col.fNNumbers += run.fNNumbers;
        if (col.IsMixed() && col.fPlan.fbNumeric) FailMixed(col);
        mixed = mixed || col.IsMixed();
    }
    return !mixed;
}

bool DataCoder::CheckWeight(CodedColumn& col, double w, std::size_t row) {
    if (w < 0.0) ++col.fNNegative;
    if (col.fPlan.fbFreqWeight && !col.fbFraction && w != std::floor(w)) {
        col.fbFraction = true;
        col.fFirstFraction = w;
        col.fFirstFractionRow = row;
    }
    return w > 0.0;
}

void DataCoder::CodeRecords(const CellChunk& chunk) {
    const std::size_t nCols = fData.fvColumns.size();
    // What each column needs, looked up once per run rather than per cell.
    std::vector<std::size_t> coded, weights, numbers;
    for (std::size_t j = 0; j < nCols; ++j) {
        if (!fvRemap[j].empty())
            coded.push_back(j);
        else if (fData.fvColumns[j].fPlan.fbWeight)
            weights.push_back(j);
        else
            numbers.push_back(j);
    }
    const std::size_t n = chunk.fNRecords;
    SpillIfOverLimit(n);
    double* const out = fData.fpStore->Append(n);
    const double* const in = chunk.fvCells.data();
    std::size_t used = 0;
    std::vector<double> maxAbs(nCols, 0.0);
    std::vector<double> lowest(nCols, std::numeric_limits<double>::infinity());
    std::vector<double> highest(nCols, -std::numeric_limits<double>::infinity());
    // Column by column within tiles of records that stay in the nearest
    // cache, so that each column's work is one tight loop. A missing cell
    // is NaN in and out; its record is then not used.
    constexpr std::size_t kTile = 256;
    bool ok[kTile];
    for (std::size_t first = 0; first < n; first += kTile) {
        const std::size_t m = std::min(kTile, n - first);
        const double* const tileIn = in + first * nCols;
        double* const tileOut = out + first * nCols;
        std::fill(ok, ok + m, true);
        for (std::size_t j : numbers) {
            double big = maxAbs[j], low = lowest[j], high = highest[j];
            for (std::size_t r = 0, at = j; r < m; ++r, at += nCols) {
                const double x = tileIn[at];
                tileOut[at] = x;
                if (std::isnan(x)) {
                    ok[r] = false;
                    continue;
                }
                big = std::max(big, std::fabs(x));
                low = std::min(low, x);
                high = std::max(high, x);
            }
            maxAbs[j] = big;
            lowest[j] = low;
            highest[j] = high;
        }
        for (std::size_t j : coded) {
            const std::int32_t* const remap = fvRemap[j].data();
            for (std::size_t r = 0, at = j; r < m; ++r, at += nCols) {
                const double x = tileIn[at];
                if (std::isnan(x)) {
                    tileOut[at] = x;
                    ok[r] = false;
                } else {
                    tileOut[at] = remap[static_cast<std::size_t>(x)];
                }
            }
        }
        for (std::size_t j : weights) {
            CodedColumn& c = fData.fvColumns[j];
            for (std::size_t r = 0, at = j; r < m; ++r, at += nCols) {
                const double x = tileIn[at];
                tileOut[at] = x;
                if (std::isnan(x))
                    ok[r] = false;
                else
                    ok[r] = CheckWeight(c, x, fData.fNRecords + first + r) && ok[r];
            }
        }
        used += static_cast<std::size_t>(std::count(ok, ok + m, true));
        for (std::size_t j : coded) {
            char* const inUsed = fData.fvColumns[j].fvInUsed.data();
            for (std::size_t r = 0, at = j; r < m; ++r, at += nCols)
                if (ok[r]) inUsed[static_cast<std::size_t>(tileOut[at])] = 1;
        }
        for (std::size_t j : weights) {
            CodedColumn& c = fData.fvColumns[j];
            double most = c.fMaxWeight;
            for (std::size_t r = 0, at = j; r < m; ++r, at += nCols)
                if (ok[r]) most = std::max(most, tileOut[at]);
            c.fMaxWeight = most;
        }
    }
    for (std::size_t j = 0; j < nCols; ++j) {
        CodedColumn& c = fData.fvColumns[j];
        c.fMaxAbs = std::max(c.fMaxAbs, maxAbs[j]);
        c.fMin = std::min(c.fMin, lowest[j]);
        c.fMax = std::max(c.fMax, highest[j]);
    }
    fData.fNRecords += n;
    fData.fNUsed += used;
}

std::vector<int> DataCoder::MixedColumns() const {
    std::vector<int> mixed;
    for (const CodedColumn& c : fData.fvColumns)
        if (c.IsMixed()) mixed.push_back(c.fHeaderIndex);
    return mixed;
}

CodedData DataCoder::Finish() {
    if (!fData.fpStore)
        fData.fpStore =
            std::make_unique<MemoryRecordStore>(static_cast<int>(fData.fvColumns.size()), 0);
    fData.fpStore->Finish();
    return std::move(fData);
}

}  // namespace mchost

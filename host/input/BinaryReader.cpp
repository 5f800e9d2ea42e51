#include "host/input/BinaryReader.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "companion/MCMV.h"
#include "host/base/HostError.h"
#include "host/base/NumberText.h"
#include "host/input/CsvScanner.h"

namespace mchost {

using MCCommon_850::MCMV;

namespace {

const char* const kMissingNote =
    " (a missing value is written as the lowest double, -1.7976931348623157e308)";

}  // namespace

CodedData BinaryReader::Read(ByteSource& source, const std::vector<std::string>& names,
                             const PlanFn& planFn, const ReadOptions& options) {
    if (names.empty()) throw HostError(HostError::kUsage, "a binary record file needs --columns");
    std::vector<ColumnPlan> plan = MakePlan(planFn, names);
    DataCoder coder(source.Name(), names, plan, options, source.Size());

    const std::size_t nValues = names.size();
    const std::size_t recordBytes = nValues * sizeof(double);
    const std::size_t perBlock = std::max<std::size_t>(1, options.fBlockBytes / recordBytes);
    std::vector<double> block(perBlock * nValues);
    CellChunk chunk;
    std::size_t nLoaded = 0;
    for (const ColumnPlan& c : plan) nLoaded += c.fbLoad;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    std::size_t records = 0, done = 0;
    for (;;) {
        // Whole records only; a short read is followed by another.
        std::size_t got = 0;
        char* bytes = reinterpret_cast<char*>(block.data());
        while (got < perBlock * recordBytes) {
            const std::size_t n = source.Read(bytes + got, perBlock * recordBytes - got);
            if (n == 0) break;
            got += n;
        }
        const std::size_t n = got / recordBytes;
        chunk.Reset(nLoaded);
        for (std::size_t r = 0; r < n; ++r) {
            const double* rec = block.data() + r * nValues;
            double* out = chunk.NextRecord();
            std::size_t j = 0;
            for (std::size_t i = 0; i < nValues; ++i) {
                if (!plan[i].fbLoad) continue;
                ChunkColumn& c = chunk.fvColumns[j];
                double& cell = out[j++];
                const double v = rec[i];
                if (plan[i].fbWeight && std::isinf(v))
                    throw HostError(HostError::kData, CellPlace(source.Name(), 0, records + r + 1) +
                                                          ": weight '" + names[i] + "' is " +
                                                          NumberText(v) +
                                                          "; a weight must be finite");
                if (MCMV::IsMissing(v)) {
                    cell = nan;
                    continue;
                }
                // Only the one missing value leaves a record out: a NaN, an
                // infinity or a code -1 may mean anything to the writer.
                if (!std::isfinite(v) || (plan[i].fbCategorical && (v < 0 || v != std::floor(v))))
                    throw HostError(HostError::kData,
                                    "column '" + names[i] + "' holds " + NumberText(v) +
                                        " in data row " + std::to_string(records + r + 1) +
                                        (plan[i].fbCategorical
                                             ? ", but a factor's values must be category codes "
                                               "0, 1, 2, ..."
                                             : ", but a value must be a finite number") +
                                        kMissingNote);
                ++c.fNNumbers;
                cell = plan[i].fbCategorical ? c.fNumbers.Intern(v + 0.0) : v;
            }
            ++chunk.fNRecords;
        }
        coder.Add(chunk, n * recordBytes);
        records += n;
        done += got;
        if (options.fProgress) options.fProgress(done, source.Size(), 1);
        if (options.fpInterrupt != nullptr && options.fpInterrupt->load())
            throw HostError(HostError::kInterrupted, "interrupted");
        if (got % recordBytes != 0)
            throw HostError(HostError::kData,
                            "'" + source.Name() + "' ends in a partial record: each record is " +
                                std::to_string(nValues) + " doubles (" +
                                std::to_string(recordBytes) + " bytes), one per --columns name");
        if (got < perBlock * recordBytes) break;
    }
    return coder.Finish();
}

CodedData BinaryReader::ReadFile(const std::string& path, const std::vector<std::string>& names,
                                 const PlanFn& plan, const ReadOptions& options) {
    const std::unique_ptr<ByteSource> source =
        OpenSource(path, options.fTempDir, options.fpInterrupt, false);
    return Read(*source, names, plan, options);
}

}  // namespace mchost

#include "host/BinaryTable.h"

#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include "companion/MCMV.h"
#include "data/BinaryRecordIterator.h"
#include "host/HostError.h"

namespace mchost {

using MCCommon_850::BinaryRecordIterator;
using MCCommon_850::MCMV;
using MCCommon_850::Record;

DataTable BinaryTableReader::ReadFile(const std::string& path,
                                      const std::vector<std::string>& names, ProgressFn progress) {
    if (names.empty()) throw HostError(HostError::kUsage, "a binary record file needs --columns");
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr)
        throw HostError(HostError::kData, "cannot open '" + path + "': " + std::strerror(errno));
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> guard(f, std::fclose);

    DataTable table;
    std::vector<DataColumn>& cols = table.GetColumns();
    for (const std::string& n : names) cols.emplace_back(n);
    const int nValues = static_cast<int>(names.size());
    struct stat st;
    if (fstat(fileno(f), &st) == 0 && st.st_size > 0) {
        const std::size_t expected =
            static_cast<std::size_t>(st.st_size) / (sizeof(double) * names.size());
        for (DataColumn& c : cols) c.Reserve(expected);
    }

    BinaryRecordIterator iter(f, nValues);
    std::size_t n = 0;
    while (iter.HasMore()) {
        const Record* r = iter.Next();
        if (r == nullptr) break;
        for (int j = 0; j < nValues; ++j) {
            const double v = (*r)[j];
            if (MCMV::IsMissing(v) || !std::isfinite(v))
                cols[static_cast<std::size_t>(j)].AppendMissing();
            else
                cols[static_cast<std::size_t>(j)].AppendNumber(v);
        }
        if (progress && (++n & 0xFFFF) == 0) progress(n);
    }
    if (iter.GetFailReason() == MCCommon_850::kIterReadError)
        throw HostError(
            HostError::kData,
            "'" + path + "' ends in a partial record or cannot be read: each record is " +
                std::to_string(nValues) + " doubles (" + std::to_string(nValues * sizeof(double)) +
                " bytes), one per --columns name");
    table.SetNRows(cols.front().GetNRows());
    return table;
}

}  // namespace mchost

#include "host/input/FrameRecordStore.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <utility>

namespace mchost {

namespace {

double NumberAt(const FrameRecordStore::Source& s, std::size_t row) {
    return StridedNumber(s.fpNumbers, s.fpIntegers, s.fStride, row);
}

double ValueAt(const FrameRecordStore::Source& s, std::size_t row) {
    if (s.fpCodes == nullptr) {
        // Any NaN (a negative one from 0/0, say) is the one missing value
        // a stored reading holds.
        const double v = NumberAt(s, row);
        return v == v ? v : std::numeric_limits<double>::quiet_NaN();
    }
    const std::int32_t code = CodeAt(s.fpCodes, s.fCodeBytes, row);
    if (code < 0 || static_cast<std::size_t>(code) >= s.fvValueOfCode.size())
        return std::numeric_limits<double>::quiet_NaN();
    return s.fvValueOfCode[static_cast<std::size_t>(code)];
}

class FrameRecordIter : public MCCommon_850::MultiPassRecordIter {
public:
    FrameRecordIter(const std::vector<FrameRecordStore::Source>& sources, std::size_t begin,
                    std::size_t end)
        : fSources(sources),
          fBegin(begin),
          fNRows(end),
          fNext(begin),
          fRecord(static_cast<int>(sources.size())) {}

    bool HasMore() const override { return fNext < fNRows; }
    MCCommon_850::Record* Next() override {
        if (fNext >= fNRows) return nullptr;
        double* out = fRecord.GetAll();
        for (std::size_t j = 0; j < fSources.size(); ++j) out[j] = ValueAt(fSources[j], fNext);
        ++fNext;
        return &fRecord;
    }
    int GetFailReason() const override {
        return fNext < fNRows ? MCCommon_850::kIterOK : MCCommon_850::kIterEnd;
    }
    int NewPass() override {
        fNext = fBegin;
        return GetFailReason();
    }

private:
    const std::vector<FrameRecordStore::Source>& fSources;
    std::size_t fBegin;
    std::size_t fNRows;  // one past the last row
    std::size_t fNext;
    MCCommon_850::Record fRecord;
};

}  // namespace

FrameRecordStore::FrameRecordStore(std::vector<Source> sources, std::size_t nRows)
    : RecordStore(static_cast<int>(sources.size())),
      fvSources(std::move(sources)),
      fvOwnCodes(fvSources.size()),
      fNRows(nRows) {}

double* FrameRecordStore::Append(std::size_t n) {
    fNRecords += n;
    fvScratch.resize(std::max(fvScratch.size(), n * fvSources.size()));
    return fvScratch.data();
}

void FrameRecordStore::Finish() {
    if (fNRecords != fNRows) throw std::logic_error("FrameRecordStore: rows read differ");
    std::vector<double>().swap(fvScratch);
    fFingerprint = Fingerprint();
}

std::unique_ptr<MCCommon_850::MultiPassRecordIter> FrameRecordStore::MakeRangeIterator(
    std::size_t begin, std::size_t end) const {
    end = std::min(end, fNRows);
    return std::make_unique<FrameRecordIter>(fvSources, std::min(begin, end), end);
}

void FrameRecordStore::SetCodeValues(std::size_t j, std::vector<double> valueOfCode) {
    fvSources.at(j).fvValueOfCode = std::move(valueOfCode);
}

void FrameRecordStore::SetOwnCodes(std::size_t j, std::vector<std::int32_t> codes,
                                   std::size_t nCodes) {
    if (codes.size() != fNRows) throw std::logic_error("FrameRecordStore: codes of other rows");
    fvOwnCodes.at(j) = std::move(codes);
    Source& s = fvSources[j];
    // The numbers stay for the fingerprint; the records read the codes.
    s.fpCodes = fvOwnCodes[j].data();
    s.fCodeBytes = sizeof(std::int32_t);
    s.fvValueOfCode.resize(nCodes);
    for (std::size_t k = 0; k < nCodes; ++k) s.fvValueOfCode[k] = static_cast<double>(k);
}

std::uint64_t FrameRecordStore::Fingerprint() const {
    // Each step is a bijection of the hash for a given cell, so one changed
    // cell always changes it; the shift spreads high bits down.
    std::uint64_t h = 0xcbf29ce484222325ull;
    const auto mix = [&h](std::uint64_t w) {
        h = (h ^ w) * 0x100000001b3ull;
        h ^= h >> 29;
    };
    for (const Source& s : fvSources) {
        const bool numbers = s.fpNumbers != nullptr || s.fpIntegers != nullptr;
        for (std::size_t r = 0; r < fNRows; ++r) {
            std::uint64_t w;
            if (s.fpIntegers != nullptr) {
                std::memcpy(&w,
                            reinterpret_cast<const char*>(s.fpIntegers) +
                                static_cast<std::ptrdiff_t>(r) * s.fStride,
                            sizeof w);
            } else if (numbers) {
                const double v = NumberAt(s, r);
                std::memcpy(&w, &v, sizeof w);
            } else {
                w = static_cast<std::uint32_t>(CodeAt(s.fpCodes, s.fCodeBytes, r));
            }
            mix(w);
        }
    }
    return h;
}

}  // namespace mchost

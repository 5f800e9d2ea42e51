#pragma once
#include <cmath>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "companion/MCMV.h"
#include "companion/RecordIterator.h"

namespace mchost {

// The records a model gives the library, made from coded records: position
// p of a record is value fSource of the coded record, and for a factor its
// category code is looked up in fpIndexOfCode, which maps the codes of
// first appearance to the sorted order of the categories (-1, for a
// category met only in records that are not used, and NaN, for a missing
// cell, give the system-missing value); a value may be scaled by a power
// of two (regression weights far from 1).
class ModelRecordIter : public MCCommon_850::MultiPassRecordIter {
public:
    class Slot {
    public:
        std::size_t fSource = 0;
        const std::vector<std::int32_t>* fpIndexOfCode = nullptr;  // null: the value itself
        // A value is multiplied by it: a power of two, so exactly.
        double fScale = 1.0;
    };

    // Over a stream of coded records.
    ModelRecordIter(std::unique_ptr<MCCommon_850::MultiPassRecordIter> coded,
                    std::vector<Slot> slots)
        : fpCoded(std::move(coded)),
          fvSlots(std::move(slots)),
          fRecord(static_cast<int>(fvSlots.size())) {}
    // Over records begin .. end-1 of coded records of nValues each, one
    // after another in memory: read where they lie, which spares every
    // record a copy and a call through a stream.
    ModelRecordIter(const double* values, std::size_t nValues, std::size_t begin, std::size_t end,
                    std::vector<Slot> slots)
        : fpValues(values),
          fNValues(nValues),
          fBegin(begin),
          fEnd(end),
          fNext(begin),
          fvSlots(std::move(slots)),
          fRecord(static_cast<int>(fvSlots.size())) {}

    bool HasMore() const override { return fpCoded ? fpCoded->HasMore() : fNext < fEnd; }
    MCCommon_850::Record* Next() override {
        const double* v = nullptr;
        if (fpCoded) {
            MCCommon_850::Record* in = fpCoded->Next();
            if (in == nullptr) return nullptr;
            v = in->GetAll();
        } else {
            if (fNext >= fEnd) return nullptr;
            v = fpValues + fNext++ * fNValues;
        }
        double* out = fRecord.GetAll();
        for (const Slot& slot : fvSlots) {
            const double x = v[slot.fSource];
            if (slot.fpIndexOfCode == nullptr) {
                *out++ = x * slot.fScale;
                continue;
            }
            // A code is a small whole number: converted as a signed integer,
            // one instruction, where an unsigned one takes a branch.
            const std::int32_t k =
                std::isnan(x) ? -1 : slot.fpIndexOfCode->data()[static_cast<std::int64_t>(x)];
            *out++ = k < 0 ? MCCommon_850::MCMV::Missing() : static_cast<double>(k);
        }
        return &fRecord;
    }
    int GetFailReason() const override {
        if (fpCoded) return fpCoded->GetFailReason();
        return fNext < fEnd ? MCCommon_850::kIterOK : MCCommon_850::kIterEnd;
    }
    int NewPass() override {
        if (fpCoded) return fpCoded->NewPass();
        fNext = fBegin;
        return GetFailReason();
    }

private:
    std::unique_ptr<MCCommon_850::MultiPassRecordIter> fpCoded;  // null: records in memory
    const double* fpValues = nullptr;
    std::size_t fNValues = 0;
    std::size_t fBegin = 0;
    std::size_t fEnd = 0;
    std::size_t fNext = 0;
    std::vector<Slot> fvSlots;
    MCCommon_850::Record fRecord;
};

}  // namespace mchost

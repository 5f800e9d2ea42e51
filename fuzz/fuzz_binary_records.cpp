// libFuzzer target: arbitrary bytes as a binary record file, read in several
// passes, each record judged by the validator of a small role map, the valid
// ones counted into effect tables and looked up again.
//
// Input layout: byte 0 picks the record length (1 to 8 values) and whether
// the role map is one position longer than a record (to reach status 315);
// byte 1 picks the factor sizes and whether the dependent is categorical;
// the rest is the file.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "companion/MCStatus.h"
#include "data/BinaryRecordIterator.h"
#include "data/MCRegRecordValidator.h"
#include "design/MCEffectsTables.h"

using MCCommon_850::BinaryRecordIterator;
using MCCommon_850::MCStatus;
using MCCommon_850::Record;
using MCMath_850::MCEffectsTables;
using MCMath_850::MCRegRecordValidator;

namespace {

// An invariant of the code under test failed: let the fuzzer report it.
void Require(bool condition) {
    if (!condition) __builtin_trap();
}

const MCConst::MCVariableType kRolePattern[9] = {
    MCConst::VAR_DEPENDENT,   MCConst::VAR_FACTOR,      MCConst::VAR_COVARIATE,
    MCConst::VAR_FREQ_WEIGHT, MCConst::VAR_REGR_WEIGHT, MCConst::VAR_FACTOR,
    MCConst::VAR_UNSPECIFIED, MCConst::VAR_FACTOR,      MCConst::VAR_COVARIATE};

std::uint64_t Mix(std::uint64_t h, const Record& r) {
    for (int i = 0; i < r.Size(); ++i) {
        std::uint64_t bits;
        std::memcpy(&bits, &r.GetAll()[i], sizeof bits);
        h = (h ^ bits) * 1099511628211ull;
    }
    return h;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const int nValues = data[0] % 8 + 1;
    const int nRoles = nValues + ((data[0] >> 3) & 1);
    const std::size_t fileSize = size - 2;

    std::vector<MCConst::MCVariableType> roles(kRolePattern, kRolePattern + nRoles);
    std::vector<int> factors, sizes;
    for (int p = 0; p < nRoles; ++p)
        if (roles[static_cast<std::size_t>(p)] == MCConst::VAR_FACTOR) {
            factors.push_back(p);
            sizes.push_back(1 + ((data[1] >> (2 * factors.size())) & 3));
        }
    const int nDepCategs = (data[1] & 1) ? 2 + ((data[1] >> 6) & 1) : 0;
    const MCRegRecordValidator validator(roles, factors, sizes, nDepCategs);

    // Intercept, every main effect and the interaction of the first two
    // factors, listed second factor first.
    std::vector<std::vector<int>> effects = {{}};
    for (int f : factors) effects.push_back({f});
    if (factors.size() >= 2) effects.push_back({factors[1], factors[0]});
    MCEffectsTables tables(factors, sizes, 0);
    Require(tables.SetModelEffectFactors(effects));

    // A spare byte keeps the buffer pointer non-null for an empty file (a
    // null buffer would ask fmemopen to allocate one); the stream exposes
    // only fileSize bytes.
    std::vector<std::uint8_t> buffer(data + 2, data + size);
    buffer.push_back(0);
    FILE* file = fmemopen(buffer.data(), fileSize, "rb");
    if (file == nullptr) return 0;

    const std::size_t recordBytes = static_cast<std::size_t>(nValues) * sizeof(double);
    const int expectRecords = static_cast<int>(fileSize / recordBytes);
    const int expectReason = fileSize % recordBytes == 0 ? 1 : 3;

    BinaryRecordIterator iter(file, nValues);
    std::uint64_t firstHash = 0;
    int nParams = -1;
    for (int pass = 0; pass < 3; ++pass) {
        if (pass > 0) Require(iter.NewPass() == (expectRecords > 0 ? 0 : expectReason));
        int count = 0;
        std::uint64_t hash = 14695981039346656037ull;
        while (iter.HasMore()) {
            Record* r = iter.Next();
            Require(r != nullptr && r->Size() == nValues);
            hash = Mix(hash, *r);
            ++count;

            MCStatus status;
            const bool valid = validator.IsValidRecord(*r, status);
            const long code = status.GetErrorCode();
            Require(code == 0 || code == 315 || code == 316 || code == 342);
            Require(!valid || code == 0);
            Require(code != 315 || nRoles > nValues);
            MCStatus scoreStatus;
            const bool scorable = validator.IsValid4Scoring(*r, scoreStatus);
            if (valid) Require(scorable);
            if (!valid || nRoles > nValues) continue;

            if (pass == 0) {
                Require(tables.UpdateAll(*r));
            } else {
                bool ok = false;
                const std::vector<int>& idx = tables.GetRowParameterIndices(r->GetAll(), ok);
                Require(ok);
                for (int k : idx) Require(k >= 0 && k < nParams);
                tables.GetRowLocalParamIndices(r->GetAll(), ok);
                Require(ok);
            }
        }
        Require(iter.Next() == nullptr);
        Require(count == expectRecords);
        Require(iter.GetFailReason() == expectReason);
        if (pass == 0) {
            firstHash = hash;
            nParams = tables.CreateParameterIndices();
            int total = 0;
            for (int e = 0; e < tables.GetNModelEffects(); ++e) {
                Require(tables.GetParameterOffsets()[static_cast<std::size_t>(e)] == total);
                total += tables.GetNEffectParameters(e);
            }
            Require(total == nParams);
        } else {
            Require(hash == firstHash);
        }
    }
    fclose(file);
    return 0;
}

#include "host/score/AliasingCheck.h"

#include <cmath>

namespace mchost {

AliasingCheck::AliasingCheck(std::size_t nParameters, const std::vector<AliasedColumn>& aliased)
    : fbKnown(true), fvByParam(nParameters), fvRelationOf(nParameters, -1) {
    // Each parameter lists the relations it enters, so that a row is
    // checked at the cost of its non-zeros.
    std::size_t r = 0;
    for (const AliasedColumn& a : aliased) {
        if (a.fParameter >= nParameters) continue;
        fvRelationOf[a.fParameter] = static_cast<int>(r);
        for (const auto& [k, b] : a.fvKept)
            if (k < nParameters) fvByParam[k].emplace_back(r, b);
        ++r;
    }
    fvOwn.assign(r, 0.0);
    fvImplied = fvSize = fvOwn;
}

bool AliasingCheck::Determined(const Sparse& c) const {
    if (!fbKnown) return true;
    fvTouched.clear();
    auto touch = [&](std::size_t r) {
        if (fvOwn[r] == 0.0 && fvSize[r] == 0.0) fvTouched.push_back(r);
    };
    for (const auto& [k, ck] : c) {
        if (k < 0 || static_cast<std::size_t>(k) >= fvByParam.size()) continue;
        const auto j = static_cast<std::size_t>(k);
        if (const int own = fvRelationOf[j]; own >= 0) {
            const auto r = static_cast<std::size_t>(own);
            touch(r);
            fvOwn[r] = ck;
            fvSize[r] += std::fabs(ck);
        }
        for (const auto& [r, coef] : fvByParam[j]) {
            touch(r);
            fvImplied[r] += ck * coef;
            fvSize[r] += std::fabs(ck * coef);
        }
    }
    bool determined = true;
    for (std::size_t r : fvTouched) {
        // Rounding of the sweep is far below this; a weight the data do
        // not support is of the order of the weights themselves.
        if (std::fabs(fvOwn[r] - fvImplied[r]) > 1e-8 * fvSize[r]) determined = false;
        fvOwn[r] = fvImplied[r] = fvSize[r] = 0.0;
    }
    return determined;
}

}  // namespace mchost

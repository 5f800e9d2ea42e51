#pragma once
#include <vector>

#include "companion/MCIndex.h"
#include "companion/MCStatus.h"
#include "marginals/MCEmmeansSpec.h"

namespace MCMath_850 {

class MCFactorCounts;
class MCLiteDesignMatrix;
class MCRegSettings;

// The marginal-means requests checked against the settings and the design
// (internal to MCMarginals): every factor's usable levels and positions,
// the covariate means, and per request its status, with its covariates
// completed by their means and a polynomial contrast's default metric.
class MCEmmeansRequests {
public:
    // Checks the design against the settings (error 335), collects the
    // levels and positions, then checks and completes every request (its
    // status: 303 for a factor outside the settings or the design, 324 for
    // a compare factor with one level, 327 for a simple contrast's
    // reference that is not a level, 326/325 for a metric list longer or
    // shorter than the levels). Throws std::bad_alloc when memory runs out.
    MCCommon_850::MCStatus Init(const MCRegSettings& settings, const MCLiteDesignMatrix& design,
                                const MCFactorCounts* counts,
                                const std::vector<double>& covariateMeans,
                                const std::vector<MCEmmeansSpec>& specs);

    int Size() const { return static_cast<int>(fvSpecs.size()); }
    bool IsRequest(int spec) const { return spec >= 0 && spec < Size(); }
    // The request as checked and completed; spec must be a request.
    const MCEmmeansSpec& Get(int spec) const { return fvSpecs[Ix(spec)]; }
    // The request's status; later steps may add to it.
    MCCommon_850::MCStatus& Status(int spec) { return fvStatus[Ix(spec)]; }
    const MCCommon_850::MCStatus& Status(int spec) const { return fvStatus[Ix(spec)]; }

    // Whether the record position holds a factor of the settings and the
    // design.
    bool IsFactor(int factor) const { return FactorPos(factor) >= 0 && DesignPos(factor) >= 0; }
    // Position of the factor among the settings' factors (design's factors);
    // -1 when it is none.
    int FactorPos(int factor) const { return Lookup(fvFactorPos, factor); }
    int DesignPos(int factor) const { return Lookup(fvDesignPos, factor); }
    // Usable levels of a settings factor (record position): all its levels
    // without counts, otherwise those with a positive count.
    const std::vector<int>& Levels(int factor) const { return fvLevels[Ix(FactorPos(factor))]; }
    // Indexed by covariate record position (missing where none).
    const std::vector<double>& CovariateMeans() const { return fvCovMeans; }
    double CovariateMean(int covariate) const { return fvCovMeans[Ix(covariate)]; }
    // The design reports no incomplete effect.
    bool IsComplete() const { return fbComplete; }

    // Indices of the request's factors, the compare factors last in
    // compare-list order; false for a compare factor that is not one of the
    // request's factors.
    bool FactorOrder(const MCEmmeansSpec& spec, std::vector<int>& order) const;
    // Every combination of usable levels of the request's compare factors,
    // the last one fastest; false when there is none.
    bool CompareCombinations(int spec, std::vector<std::vector<int>>& combinations) const;

private:
    static int Lookup(const std::vector<int>& map, int i) {
        return i >= 0 && Ix(i) < map.size() ? map[Ix(i)] : -1;
    }
    MCCommon_850::MCStatus Check(std::size_t spec, const std::vector<int>& covariates);

    std::vector<MCEmmeansSpec> fvSpecs;
    std::vector<MCCommon_850::MCStatus> fvStatus;
    std::vector<double> fvCovMeans;          // by covariate record position
    std::vector<std::vector<int>> fvLevels;  // usable levels per settings factor
    std::vector<int> fvFactorPos;            // record position -> settings factor position
    std::vector<int> fvDesignPos;            // record position -> design factor position
    bool fbComplete = true;
};

// Odometer step over per-position level lists (the last fastest); false
// after the last combination.
bool NextCombination(std::vector<int>& pos, const std::vector<const std::vector<int>*>& lists);

// First position of value in list, -1 when absent.
int FindPosition(const std::vector<int>& list, int value);

}  // namespace MCMath_850

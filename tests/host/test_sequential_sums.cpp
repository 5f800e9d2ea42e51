// Sequential sums of squares from the bordered cross products, and what
// an effect adds to all the others, against their closed forms: for y on
// 20 groups and then a covariate x, the intercept's is W ybar^2, the
// groups' the between-group sum of squares and x's the pooled
// within-group regression's, (Sxy)^2 / Sxx.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "companion/MCBitSet.h"
#include "companion/MCSymMatrix.h"
#include "host/analyses/PartialSums.h"
#include "host/analyses/SequentialSums.h"
#include "host/base/HostError.h"
#include "support/host_fixtures.h"

using namespace mchost;
using MCMath_850::MCBitSet;
using MCMath_850::MCSymMatrix;

namespace {

constexpr int kGroups = 20;
constexpr int kRecords = 400;

struct Data {
    std::vector<int> group;
    std::vector<double> x, y;
};

Data MakeData() {
    Data d;
    for (int i = 0; i < kRecords; ++i) {
        const int g = (i * 7 + i / 3) % kGroups;
        const double x = std::sin(0.37 * i) + 0.1 * g;
        d.group.push_back(g);
        d.x.push_back(x);
        d.y.push_back(5.0 + 0.2 * g * g / kGroups + 1.5 * x + std::cos(1.3 * i));
    }
    return d;
}

// Parameters: intercept, the 20 groups (the last redundant), x; or, with
// xFirst, intercept, x, the groups. y last.
MCSymMatrix Bordered(const Data& d, bool xFirst) {
    const int p = kGroups + 2;
    MCSymMatrix m(p + 1);
    for (int i = 0; i < kRecords; ++i) {
        std::vector<double> row(static_cast<std::size_t>(p + 1), 0.0);
        row[0] = 1.0;
        row[static_cast<std::size_t>((xFirst ? 2 : 1) + d.group[i])] = 1.0;
        row[static_cast<std::size_t>(xFirst ? 1 : p - 1)] = d.x[i];
        row[static_cast<std::size_t>(p)] = d.y[i];
        EXPECT_TRUE(m.UpdateXX(row, 1.0));
    }
    return m;
}

}  // namespace

TEST(SequentialSums, GroupsThenCovariateMatchClosedForms) {
    const Data d = MakeData();
    const MCSymMatrix m = Bordered(d, false);
    const int p = kGroups + 2;
    MCBitSet kept(p);
    kept.SetRange(0, p);
    kept.Unset(kGroups);  // the last group's indicator
    std::vector<double> scale;
    m.ComputeSweepScale(scale, 1e-12, 1.0);
    const std::vector<int> first{0, 1, p - 1}, count{1, kGroups, 1};

    // Closed forms, in long double: sums of squares and products about the
    // group means (w) and about the overall means (o).
    long double sx = 0, sy = 0;
    std::vector<long double> gn(kGroups), gx(kGroups), gy(kGroups);
    for (int i = 0; i < kRecords; ++i) {
        sx += d.x[i];
        sy += d.y[i];
        gn[d.group[i]] += 1;
        gx[d.group[i]] += d.x[i];
        gy[d.group[i]] += d.y[i];
    }
    const long double xbar = sx / kRecords, ybar = sy / kRecords;
    long double between = 0, sxx = 0, sxy = 0, wyy = 0, oxx = 0, oxy = 0, oyy = 0;
    for (int g = 0; g < kGroups; ++g) between += gn[g] * std::pow(gy[g] / gn[g] - ybar, 2);
    for (int i = 0; i < kRecords; ++i) {
        const int g = d.group[i];
        const long double wx = d.x[i] - gx[g] / gn[g], wy = d.y[i] - gy[g] / gn[g];
        sxx += wx * wx;
        sxy += wx * wy;
        wyy += wy * wy;
        oxx += std::pow(d.x[i] - xbar, 2);
        oxy += (d.x[i] - xbar) * (d.y[i] - ybar);
        oyy += std::pow(d.y[i] - ybar, 2);
    }
    const double want[] = {static_cast<double>(kRecords * ybar * ybar),
                           static_cast<double>(between), static_cast<double>(sxy * sxy / sxx)};

    int calls = 0;
    const SequentialSums sums =
        ComputeSequentialSums(m, first, count, kept, scale, 1e-12, nullptr, nullptr,
                              [&](int e) { EXPECT_EQ(e, calls++); });
    EXPECT_EQ(calls, 3);
    EXPECT_EQ(sums.fvDF, (std::vector<int>{1, kGroups - 1, 1}));
    for (int e = 0; e < 3; ++e) EXPECT_NEAR(sums.fvSS[e], want[e], 1e-11 * want[e]) << e;

    // With x before the groups, the groups' sum of squares is what the
    // overall regression on x leaves less what the full model leaves; the
    // groups are then swept afresh, or read off a matrix swept on every
    // pivot when one is given.
    const double groupsAfterX =
        static_cast<double>((oyy - oxy * oxy / oxx) - (wyy - sxy * sxy / sxx));
    const MCSymMatrix mx = Bordered(d, true);
    MCBitSet keptX(p);
    keptX.SetRange(0, p);
    keptX.Unset(p - 1);  // the last group's indicator
    MCSymMatrix full = mx;
    MCBitSet swept(p + 1);
    std::vector<int> all;
    for (int k = 0; k < p; ++k)
        if (keptX.IsIn(k)) all.push_back(k);
    ASSERT_TRUE(full.SweepPivots(all, 0.0, {}, swept, false));
    std::vector<double> scaleX;
    mx.ComputeSweepScale(scaleX, 1e-12, 1.0);
    const std::vector<int> firstX{0, 1, 2}, countX{1, 1, kGroups};
    MCSymMatrix negated = full;  // as the fit keeps it
    negated.Scale(-1.0);
    for (const MCSymMatrix* given : std::vector<const MCSymMatrix*>{nullptr, &negated}) {
        const SequentialSums xFirst =
            ComputeSequentialSums(mx, firstX, countX, keptX, scaleX, 1e-12, given, nullptr, {});
        EXPECT_NEAR(xFirst.fvSS[0], want[0], 1e-11 * want[0]);
        EXPECT_NEAR(xFirst.fvSS[2], groupsAfterX, 1e-11 * groupsAfterX);
        EXPECT_NEAR(xFirst.fvSS[1] + xFirst.fvSS[2], want[1] + want[2],
                    1e-11 * (want[1] + want[2]));
    }

    // What each effect adds to the other two: the groups' is the same
    // closed form, x's the pooled within-group regression's; the groups
    // add 19 columns.
    std::vector<double> bx;
    full.GetRegCoeffs(bx, swept);
    const PartialSum groups = ComputePartialSum(mx, 2, kGroups, keptX, bx, scaleX, 1e-12, nullptr);
    EXPECT_EQ(groups.fDF, kGroups - 1);
    EXPECT_NEAR(groups.fSS, groupsAfterX, 1e-10 * groupsAfterX);
    const PartialSum slope = ComputePartialSum(mx, 1, 1, keptX, bx, scaleX, 1e-12, nullptr);
    EXPECT_EQ(slope.fDF, 1);
    EXPECT_NEAR(slope.fSS, want[2], 1e-10 * want[2]);

    // A cancel stops the sweeps.
    mchost_test::CancelAfter cancel(0);
    EXPECT_THROW(ComputeSequentialSums(m, first, count, kept, scale, 1e-12, nullptr, &cancel, {}),
                 HostError);
}

#pragma once
// The model both design tests expand. Record: 0 = y, 1 = A (3 categories),
// 2 = B (2 categories), 3 = x. Model: intercept, A, x, x*x, A*x, A(B).
#include <vector>

#include "settings/MCModelEffect.h"
#include "settings/MCRegSettings.h"

inline MCMath_850::MCRegSettings MixedModelSettings() {
    using MCMath_850::MCModelEffect;
    MCMath_850::MCRegSettings s;
    EXPECT_TRUE(s.SetDependent(0));
    EXPECT_GE(s.AddFactor(1, 3), 0);
    EXPECT_GE(s.AddFactor(2, 2), 0);
    EXPECT_GE(s.AddCovariate(3), 0);
    const std::vector<int> vars = {1, 2, 3};
    MCModelEffect a(2, 1, &vars), x(2, 1, &vars), xx(2, 1, &vars), ax(2, 1, &vars),
        aWithinB(2, 1, &vars);
    EXPECT_TRUE(a.AddNewFactor(1, false));
    EXPECT_GE(x.AddCovariate(3), 0);
    EXPECT_GE(xx.AddCovariate(3), 0);
    EXPECT_GE(xx.AddCovariate(3), 0);
    EXPECT_TRUE(ax.AddNewFactor(1, false));
    EXPECT_GE(ax.AddCovariate(3), 0);
    EXPECT_TRUE(aWithinB.AddNewFactor(1, false));
    EXPECT_TRUE(aWithinB.AddNewFactor(2, true));
    for (const MCModelEffect* e : {&a, &x, &xx, &ax, &aWithinB}) EXPECT_TRUE(s.AddModelEffect(*e));
    return s;
}

#include <gtest/gtest.h>

#include "settings/MCModelEffect.h"

using MCMath_850::MCModelEffect;

namespace {
// Model variables: factors A=10, B=11, C=12, then covariates x=20, y=21.
const std::vector<int> kVars = {10, 11, 12, 20, 21};
enum { A = 10, B = 11, C = 12, X = 20, Y = 21 };
MCModelEffect Term() {
    return MCModelEffect(3, 2, &kVars);
}
}  // namespace

TEST(ModelEffect, NestingLevelsAndCounts) {
    MCModelEffect ab = Term();  // A(B)
    ASSERT_TRUE(ab.AddNewFactor(A, false));
    ASSERT_TRUE(ab.AddNewFactor(B, true));
    EXPECT_EQ(ab.GetModelEffect(), (std::vector<int>{1, 0, -1, 0, 0}));
    EXPECT_EQ(ab.GetNLevels(), 2);

    MCModelEffect abc = Term();  // A(B(C))
    EXPECT_TRUE(abc.AddNewFactor(A, false));
    EXPECT_TRUE(abc.AddNewFactor(B, true));
    EXPECT_TRUE(abc.AddNewFactor(C, true));
    EXPECT_EQ(abc.GetFactorLevels(), (std::vector<int>{2, 1, 0}));
    EXPECT_EQ(abc.GetNLevels(), 3);

    MCModelEffect cross = Term();  // A*B(C)
    EXPECT_TRUE(cross.AddNewFactor(A, false));
    EXPECT_TRUE(cross.AddNewFactor(B, false));
    EXPECT_TRUE(cross.AddNewFactor(C, true));
    EXPECT_EQ(cross.GetFactorLevels(), (std::vector<int>{1, 1, 0}));
    EXPECT_EQ(cross.GetNLevels(), 2);
    EXPECT_EQ(cross.ContainsFactor(C), 0);
    EXPECT_EQ(cross.ContainsFactor(X), -1);  // not a model factor

    // Refusals change nothing.
    const MCModelEffect before = cross;
    EXPECT_FALSE(cross.AddNewFactor(A, true));
    EXPECT_FALSE(cross.AddNewFactor(X, false));
    EXPECT_EQ(cross.AddCovariate(A), -1);
    EXPECT_EQ(cross, before);

    MCModelEffect first = Term();  // first factor nested: still one level
    EXPECT_TRUE(first.AddNewFactor(B, true));
    EXPECT_EQ(first.GetNLevels(), 1);

    MCModelEffect xxa = Term();  // x*x*A
    EXPECT_EQ(xxa.AddCovariate(X), 1);
    EXPECT_EQ(xxa.AddCovariate(X), 2);
    EXPECT_TRUE(xxa.AddNewFactor(A, false));
    EXPECT_EQ(xxa.GetNCovariates(), 1);
    EXPECT_EQ(xxa.GetNCovariateMult(), 2);
    EXPECT_EQ(xxa.GetCovariateMult(X), 2);
    EXPECT_EQ(xxa.GetCovariateMult(Y), 0);
    EXPECT_EQ(xxa.GetCovariateMult(A), -1);
    std::vector<int> covs = {99};
    EXPECT_FALSE(xxa.IsCovariateEffect(covs));
    EXPECT_TRUE(covs.empty());

    MCModelEffect xxy = Term();
    EXPECT_GE(xxy.AddCovariate(Y), 0);
    EXPECT_GE(xxy.AddCovariate(X), 0);
    EXPECT_GE(xxy.AddCovariate(X), 0);
    EXPECT_TRUE(xxy.IsCovariateEffect(covs));
    EXPECT_EQ(covs, (std::vector<int>{X, X, Y}));
    EXPECT_EQ(xxy.GetNLevels(), 0);
    EXPECT_FALSE(xxy.IsIntercept());
    EXPECT_TRUE(Term().IsIntercept());

    xxa.Reset();
    EXPECT_EQ(xxa, Term());
}

TEST(ModelEffect, Containment) {
    MCModelEffect a = Term(), ab = Term(), xa = Term(), xxab = Term(), xab = Term();
    EXPECT_TRUE(a.AddNewFactor(A, false));
    EXPECT_TRUE(ab.AddNewFactor(A, false));
    EXPECT_TRUE(ab.AddNewFactor(B, true));  // levels are not compared
    EXPECT_GE(xa.AddCovariate(X), 0);
    EXPECT_TRUE(xa.AddNewFactor(A, false));
    EXPECT_GE(xxab.AddCovariate(X), 0);
    EXPECT_GE(xxab.AddCovariate(X), 0);
    EXPECT_TRUE(xxab.AddNewFactor(A, false));
    EXPECT_TRUE(xxab.AddNewFactor(B, false));
    EXPECT_GE(xab.AddCovariate(X), 0);
    EXPECT_TRUE(xab.AddNewFactor(A, false));
    EXPECT_TRUE(xab.AddNewFactor(B, false));

    EXPECT_TRUE(a.IsContainedIn(ab));
    EXPECT_FALSE(ab.IsContainedIn(a));
    EXPECT_FALSE(a.IsContainedIn(a));      // equal terms
    EXPECT_FALSE(xa.IsContainedIn(xxab));  // multiplicities differ
    EXPECT_TRUE(xa.IsContainedIn(xab));
    EXPECT_FALSE(a.IsContainedIn(xab));  // covariates differ
    const std::vector<int> other = {10, 11, 13, 20, 21};
    MCModelEffect abOther(3, 2, &other);
    EXPECT_TRUE(abOther.AddNewFactor(A, false));
    EXPECT_TRUE(abOther.AddNewFactor(B, false));
    EXPECT_FALSE(a.IsContainedIn(abOther));  // another variable list
}

TEST(ModelEffect, MaskAndVariableUse) {
    MCModelEffect bx = Term(), cy = Term();
    EXPECT_TRUE(bx.AddNewFactor(B, false));
    EXPECT_GE(bx.AddCovariate(X), 0);
    EXPECT_TRUE(cy.AddNewFactor(C, false));
    EXPECT_GE(cy.AddCovariate(Y), 0);
    EXPECT_GE(cy.AddCovariate(Y), 0);

    const std::vector<MCModelEffect> effects = {bx, cy};
    EXPECT_EQ(MCModelEffect::CheckVariableUse(effects),
              (std::vector<bool>{false, true, true, true, true}));
    std::vector<int> f = {1}, c = {1};
    MCModelEffect::GetUsedVariables({cy, bx, cy}, f, c);
    EXPECT_EQ(f, (std::vector<int>{C, B}));
    EXPECT_EQ(c, (std::vector<int>{Y, X}));

    // Dropping the unused factor A keeps the term; dropping used Y does not.
    MCModelEffect masked = cy;
    EXPECT_TRUE(masked.ApplyMask({false, true, true, true, true}));
    EXPECT_EQ(masked.GetModelEffect(), (std::vector<int>{-1, 0, 0, 2}));
    EXPECT_EQ(masked.GetNModelFactors(), 2);
    EXPECT_EQ(masked.GetNModelCovariates(), 2);
    EXPECT_FALSE(masked.ApplyMask({true, true, true, false}));
    EXPECT_EQ(masked.GetModelEffect(), (std::vector<int>{-1, 0, 0}));
    EXPECT_EQ(masked.GetNModelCovariates(), 1);
    EXPECT_EQ(masked.GetNCovariates(), 0);

    EXPECT_EQ(MCModelEffect::FindInVector(kVars, 3, 5, 21), 4);  // clipped at the end
    EXPECT_EQ(MCModelEffect::FindInVector(kVars, 0, 3, 20), -1);
}

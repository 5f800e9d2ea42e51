#pragma once
#include <functional>
#include <vector>

#include "companion/MCBitSet.h"
#include "companion/MCExport.h"
#include "companion/MCMV.h"
#include "companion/MCRectMatrix.h"
#include "companion/MCStatus.h"
#include "companion/MCSymMatrix.h"
#include "companion/RecordIterator.h"
#include "hypothesis/MCModelTestStats.h"
#include "hypothesis/MCTestStats.h"
#include "settings/MCConst.h"

namespace MCMath_850 {

class IMCLinkFunc;
class MCSatterthwaite;

// Row codes of an L matrix: -1 for a row that is tested and counts for the
// multiplicity, -2 for a row of zeros, i >= 0 for a row that (with its
// hypothesised value appended) is a multiple of row i. K may be null (all
// hypothesised values 0); otherwise it needs one value per row (missing
// entries count as 0). nNonRedundant receives the number of rows coded -1.
MCREG_API void CheckRows(const MCRectMatrix& L, const std::vector<double>* K,
                         std::vector<int>& codes, int& nNonRedundant);

// Wald tests of linear hypotheses L b = K about the parameters b of a fitted
// model with covariance matrix V: one overall test of all rows of L (through
// a generalised inverse of L V L', so a rank-deficient L is tested on its
// rank) and one test per row, with p-value adjustment and confidence
// intervals.
//
// The linear-predictor family tests contrasts of b. The response-scale family
// (ComputeOriginal...) tests contrasts L mu of cell means mu_i = g^-1(M_i b),
// M's rows being design rows of the cells and g the link function, with
// variances from the delta method.
//
// Test types: 0 (Wald F) and 1 test single rows by t with the error (or
// Satterthwaite) degrees of freedom, 2 (chi-square) and 3 by a one-df
// chi-square; only types 0 and 2 have an overall test.
//
// The tester keeps references to the estimates, the non-redundant set, the
// covariance matrix, the link, the cancel query and the Satterthwaite object;
// they must outlive it. Nothing throws. A column mismatch is reported by the
// call (322) and does not stick, nor does an entry of L or K that is not a
// finite number (303, for the overall and the family tests); a host cancel seen by
// ComputeOriginalOverallTest (status 1) sticks and is returned by every later
// Compute call that returns a status.
class MCREG_API MCModelTests {
public:
    MCModelTests(const std::vector<double>& estimates, const MCBitSet& nonRedundant,
                 const MCSymMatrix& covariance, double errorDF,
                 MCCommon_850::MCQueryCancel* cancelQuery = nullptr);
    virtual ~MCModelTests() = default;
    MCModelTests(const MCModelTests&) = delete;
    MCModelTests& operator=(const MCModelTests&) = delete;

    MCConst::MCTestType GetTestType() const { return fTestType; }
    // Also recomputes the stored critical value (its distribution follows the
    // test type) when a confidence level is set.
    void SetTestType(MCConst::MCTestType type);
    MCConst::MCPAdjustMethod GetPAdjustment() const { return fPAdjMethod; }
    void SetPAdjustment(MCConst::MCPAdjustMethod method) { fPAdjMethod = method; }
    // The link of the response-scale family (not owned).
    void SetLinkFunction(const IMCLinkFunc* link) { fpLink = link; }
    // Denominator degrees of freedom by Satterthwaite's method (not owned;
    // null returns to the error degrees of freedom).
    void SetSatterthwaite(MCSatterthwaite* satterthwaite) { fpSatterthwaite = satterthwaite; }
    // Stored only; the host's cancel query is what stops a test.
    void Cancel() { fbCancel = true; }
    bool IsCancelled() const { return fbCancel; }

    // c is a fraction (0.95). Stores the unadjusted two-sided critical value
    // ComputePercentile(0.5 c + 0.5, error df).
    void SetConfidenceLevel(double c);
    double GetConfidenceLevel() const { return fConfidenceLevel; }
    double GetCriticalValue() const { return fCriticalValue; }
    // The error degrees of freedom (recomputes the critical value).
    void SetDF(double df);
    double GetDF() const { return fErrorDF; }

    const MCCommon_850::MCStatus& GetStatus() const { return fStatus; }
    const std::vector<double>& GetEstimates() const { return *fpEstimates; }
    const MCBitSet& GetNonRedundantSet() const { return *fpNonRedundant; }
    const MCSymMatrix& GetCovariance() const { return *fpCovariance; }

    // Quantile at q: standard normal for test types 2 and 3, Student t with
    // df (the error df when df is not positive) for 0 and 1; missing
    // otherwise.
    double ComputePercentile(double q, double df) const;
    // Single-step adjusted critical value (methods 0, 1, 3; missing for the
    // step-down methods) for multiplicity k.
    double ComputeAdjPercentile(MCConst::MCPAdjustMethod method, double alpha, int k,
                                double df) const;

    // Tests one effect's L and appends the record, L and the resulting
    // status to stats. A prior error, or a prior warning other than 321, is
    // the result without a test; an empty L gives warning 321. The appended
    // record is untested in those cases.
    MCCommon_850::MCStatus ComputeModelTest(const MCRectMatrix& L,
                                            const MCCommon_850::MCStatus& prior,
                                            MCModelTestStats& stats);

    // The overall test of L b = 0 into overall (reset first). With an
    // adjustment method other than 0 the record also gets the number of
    // non-redundant rows and, as Adjusted Sig, the family adjustment of the
    // smallest row p-value. Error 322 (data: L's columns, number of
    // estimates) on a column mismatch.
    MCCommon_850::MCStatus ComputeOverallTest(const MCRectMatrix& L, MCTestStats& overall);

    // Tests row r of L against k with multiplicity n into record (which the
    // caller provides fresh). With interval, the confidence bounds of a
    // single-step method (a confidence level must be set). False when the
    // variance is missing or not computable, or r is out of range.
    bool ComputeIndivTest(const MCRectMatrix& L, int r, double k, int n, MCTestStats& record,
                          bool interval) const;
    // The same test of a row whose estimate l b, variance l' V l and
    // denominator df the caller worked out (the row itself may then stay
    // sparse). With critical not null the interval is estimate -/+
    // *critical standard errors (none for a missing value): what
    // ComputeIntervalCritical gives for the multiplicity and df, which a
    // caller testing many rows alike asks once.
    bool ComputeIndivTest(double estimate, double variance, double denomDF, double k, int n,
                          MCTestStats& record, const double* critical) const;
    // The critical value of a single row's interval with multiplicity n and
    // denominator df (which a chi-square test ignores): missing without a
    // confidence level or for a step-down method.
    double ComputeIntervalCritical(int n, double denomDF) const;

    // The overall test of L b = K and one test per row into indiv (resized
    // to L's rows), with the adjustment of the whole family; nTests >= 1
    // makes every row count and sets the multiplicity. K empty means 0 for
    // every row; otherwise it needs one value per row (error 303).
    MCCommon_850::MCStatus ComputeOvAndIndTests(const MCRectMatrix& L, const std::vector<double>& K,
                                                std::vector<MCTestStats>& indiv,
                                                MCTestStats& overall, int nTests);

    // Response-scale family. M has one row per cell and one column per entry
    // of b; L has one column per cell. Error 322 (data: M's columns and b's
    // length, or L's columns and M's rows) on a mismatch, error 303 without a
    // link function.
    MCCommon_850::MCStatus ComputeOriginalOverallTest(const MCRectMatrix& M,
                                                      const std::vector<double>& b,
                                                      const MCRectMatrix& L, MCTestStats& overall);
    MCCommon_850::MCStatus ComputeOriginalOvAndIndTests(const MCRectMatrix& M,
                                                        const std::vector<double>& b,
                                                        const MCRectMatrix& L,
                                                        std::vector<MCTestStats>& indiv,
                                                        MCTestStats& overall, int nTests);
    // A single contrast with the given estimate, variance and denominator df.
    bool ComputeOriginalIndivTest(double estimate, double variance, int n, MCTestStats& record,
                                  double df, bool interval) const;
    // Estimate l mu of row r with its delta-method variance and denominator
    // df; missing (variance and df too) when not computable.
    double ComputeOriginalEstimDenomDf(const MCRectMatrix& L, int r, const MCRectMatrix& M,
                                       const std::vector<double>& b, double& variance,
                                       double& df) const;
    // Wald statistic of L mu = 0; rank, the rows pivoted by the generalised
    // inverse and the denominator df (error or Satterthwaite) come back too.
    // Missing (rank -1) when not computable.
    double ComputeOriginalChiSquare(const MCRectMatrix& M, const std::vector<double>& b,
                                    const MCRectMatrix& L, int& rank, MCBitSet& used, double& df);

    // Wald statistic (Lb - K)' (L V L')^- (Lb - K), K null for 0; rank and
    // the pivoted rows of the generalised inverse. Missing (rank -1) when
    // not computable.
    double ComputeChiSquare(const MCRectMatrix& L, const std::vector<double>* K, int& rank,
                            MCBitSet& used) const;
    // Generalised inverse of S scaled by its diagonal (tolerance 1e-12) and
    // cleaned of round-off; returns the rank (-1 on failure).
    static int ComputeInverse(const MCSymMatrix& S, MCSymMatrix& Sinv, MCBitSet& used);

    void Display() const;

private:
    // The public operations of the same name without their guard: running
    // out of memory inside a test reaches the guard of the operation the
    // host called rather than turning into a missing statistic.
    static int Inverse(const MCSymMatrix& S, MCSymMatrix& Sinv, MCBitSet& used);
    double ChiSquare(const MCRectMatrix& L, const std::vector<double>* K, int& rank,
                     MCBitSet& used) const;
    bool IndivTest(const MCRectMatrix& L, int r, double k, int n, MCTestStats& record,
                   bool interval) const;
    double OriginalChiSquare(const MCRectMatrix& M, const std::vector<double>& b,
                             const MCRectMatrix& L, int& rank, MCBitSet& used, double& df);
    double OriginalEstimDenomDf(const MCRectMatrix& L, int r, const MCRectMatrix& M,
                                const std::vector<double>& b, double& variance, double& df) const;
    MCCommon_850::MCStatus OverallTest(const MCRectMatrix& L, MCTestStats& overall);

    // The start of every test of L: an error from before stays, the
    // overall record starts afresh, and an empty L ends the test with a
    // warning (and no row records). False, with the status to return, when
    // the test ends here.
    bool Start(const MCRectMatrix& L, MCTestStats& overall, std::vector<MCTestStats>* indiv,
               MCCommon_850::MCStatus& status) const;
    // An overall test's Adjusted Sig. from its rows' own tests (test fills
    // row r's record with multiplicity n), unless there is no adjustment;
    // a cancel between rows stops it.
    MCCommon_850::MCStatus AdjustOverallByRows(
        const MCRectMatrix& L, MCTestStats& overall,
        const std::function<void(int r, int n, MCTestStats& record)>& test);

    // One row's test of estimate = k into record: its df (a negative
    // variance taken as the round-off of 0), then the statistic, p-values
    // and, for a critical value that is not missing, the interval, as
    // MCWaldTest decides them. False when the variance is not usable.
    bool TestRow(double estimate, double k, double variance, double denomDF, int n,
                 MCTestStats& record, double critical) const;
    // Cell means g^-1(M_i b) and delta weights 1/g'(mu_i) (missing where
    // not computable). False on a dimension mismatch or without a link.
    bool ComputeMeans(const MCRectMatrix& M, const std::vector<double>& b, std::vector<double>& mu,
                      std::vector<double>& w) const;
    MCCommon_850::MCStatus CheckOriginal(const MCRectMatrix& M, const std::vector<double>& b,
                                         const MCRectMatrix& L) const;
    // Fills the overall record from a statistic, its rank, the contrast
    // values d and the denominator df (F only when allowF).
    void FillOverall(double chi, int rank, const std::vector<double>& d, double df2, bool allowF,
                     int nRows, MCTestStats& overall) const;
    // The family step shared by both overall tests: multiplicity and the
    // adjusted p-value from the individual row tests.
    void AdjustOverallFromRows(const std::vector<MCTestStats>& rows, const std::vector<int>& codes,
                               int n, MCTestStats& overall) const;
    // The start shared by both families of row tests: the row codes and the
    // multiplicity n (with nTests >= 1 every row counts and n = nTests,
    // otherwise CheckRows decides), one fresh record per row of L marked
    // with its use in the overall test (the rows pivoted, used) and with n,
    // and n in the overall record.
    void StartFamily(const MCRectMatrix& L, const std::vector<double>* K, int nTests,
                     const MCBitSet& used, std::vector<int>& codes, int& n,
                     std::vector<MCTestStats>& indiv, MCTestStats& overall) const;
    // Step-down over the rows coded -1, copying to duplicate rows, and the
    // overall Adjusted Sig.
    void FinishFamily(const std::vector<int>& codes, int n, std::vector<MCTestStats>& indiv,
                      MCTestStats& overall) const;
    double DenominatorDF(const std::vector<double>& l) const;

    const std::vector<double>* fpEstimates;
    const MCSymMatrix* fpCovariance;
    const MCBitSet* fpNonRedundant;
    double fErrorDF;
    MCConst::MCTestType fTestType = MCConst::TEST_CHISQUARE;
    MCConst::MCPAdjustMethod fPAdjMethod = MCConst::PADJ_LSD;
    bool fbCancel = false;
    MCCommon_850::MCStatus fStatus;
    const IMCLinkFunc* fpLink = nullptr;
    MCCommon_850::MCQueryCancel* fpCancelQuery = nullptr;
    MCSatterthwaite* fpSatterthwaite = nullptr;
    double fCriticalValue = MCCommon_850::MCMV::Missing();
    double fConfidenceLevel = MCCommon_850::MCMV::Missing();
};

}  // namespace MCMath_850

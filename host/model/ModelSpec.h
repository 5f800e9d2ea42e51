#pragma once
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "companion/RecordIterator.h"
#include "host/input/CodedData.h"
#include "host/model/Formula.h"
#include "host/model/ModelRecordIter.h"
#include "settings/MCRegSettings.h"

namespace mchost {

class Processes;

// What the command line says about a model besides its formula.
class ModelOptions {
public:
    std::vector<std::string> fvFactors;  // columns to treat as factors even when numeric
    std::string fFreqWeight;             // empty: none
    std::string fRegrWeight;
    bool fbIntercept = true;
    double fTolerance = 0.0;  // not positive: the library's default
    double fConfidence = 0.95;
    // The robust covariance's estimator (an MCConst::MCRobustType), or -1
    // for the model-based covariance.
    int fSandwich = -1;
    // The columns (one or two) naming the clusters of a cluster-robust
    // covariance (which they then select); empty: none.
    std::vector<std::string> fvCluster;
    // The dependent's distinct values are coded as sorted categories, as a
    // factor's are (a model of a categorical dependent).
    bool fbCategoricalDependent = false;
    // A general linear model keeps its cross products for the effect tests.
    bool fbKeepCrossProducts = false;
};

// A variable at one record position of the records given to the library.
class ModelVariable {
public:
    enum Role { kDependent, kFactor, kCovariate, kFreqWeight, kRegrWeight, kCluster };

    std::string fName;
    int fColumn = -1;  // in the data table
    Role fRole = kCovariate;
    // Factors (and a categorical dependent): the category text of each
    // code 0 .. K-1.
    std::vector<std::string> fvCategories;
    // The categories are numbers (a numeric column coded as categories).
    bool fbNumericCategories = false;
    // Factors: the category code of each code of first appearance, -1 for
    // a category met only in records that are not used.
    std::vector<std::int32_t> fvIndexOfCode;
    // Covariates: the largest magnitude, the smallest and largest values in
    // the data; a numeric dependent: its largest magnitude.
    double fMaxAbs = 0.0;
    double fMin = 0.0;
    double fMax = 0.0;
};

// "dependent", "factor", "covariate", "frequency_weight", "regression_weight".
const char* RoleName(ModelVariable::Role role);

// How to read the columns that formula and options name: the model's
// columns loaded, --factors columns (and a categorical dependent) coded as
// categories, weights checked for being positive. Throws FormulaError for
// a formula name that is no column and HostError (usage) for an unknown
// --factors or weight column.
std::vector<ColumnPlan> PlanColumns(const Formula& formula, const ModelOptions& options,
                                    const std::vector<std::string>& header);

// The index of the category of v that text names, -1 when none does. The
// categories of numbers are matched by value ("2.0" names 2), those of
// texts by their exact text.
int FindCategory(const ModelVariable& v, const std::string& text);

// Several processes, each with its own part of the data, must read every
// column the same way: a column with a text cell in one part is text in
// all (a part where it has no cell codes it as categories too). Throws
// HostError (data) on every process when a column holds text in one part
// and numbers in another.
void AgreeColumnKinds(CodedData& data, Processes& processes);

// A model ready for the library: the variables' roles and record
// positions, the factors coded, the settings and the records.
//
// Factors are the columns named in the options plus every model column with
// a text cell; the other model columns are covariates. Both enter the
// settings in order of first appearance in the formula. A record is used
// when the dependent, every model factor and covariate are present and the
// weights are positive. A factor's categories are its distinct values in
// the records used, numbers in numeric order (a numeric column), texts in
// byte order (a text column), coded 0 .. K-1.
//
// Record layout: the dependent at 0, the factors, the covariates, then the
// frequency and the regression weight. The records are made from the coded
// data's, so the data must outlive the ModelSpec and its iterators.
class ModelSpec {
public:
    // Throws FormulaError / HostError (usage) for a model the formula and
    // options cannot describe and HostError (data) for columns whose cells
    // cannot play their role (text in the dependent, a covariate or a weight).
    ModelSpec(const Formula& formula, const ModelOptions& options, const CodedData& data);
    ModelSpec(const ModelSpec&) = delete;
    ModelSpec& operator=(const ModelSpec&) = delete;
    ModelSpec(ModelSpec&&) = default;
    ModelSpec& operator=(ModelSpec&&) = default;

    const MCMath_850::MCRegSettings& GetSettings() const { return fSettings; }
    // Indexed by record position.
    const std::vector<ModelVariable>& GetVariables() const { return fvVariables; }
    // The formula text of each settings effect ("A*B", "x(A)").
    const std::vector<std::string>& GetEffectTexts() const { return fvEffectTexts; }
    const std::string& GetDependentName() const { return fvVariables.front().fName; }
    const std::string& GetFormulaText() const { return fFormulaText; }
    // The factors that are factors because none of their cells is a
    // number, not because --factors names them.
    const std::vector<std::string>& GetTextFactors() const { return fvTextFactors; }
    // The record positions of the covariates in each settings effect.
    const std::vector<std::vector<int>>& GetEffectCovariates() const { return fvEffectCovariates; }
    // The regression weights are multiplied by this power of two (1 for
    // ordinary weights), so that weights near the ends of the range of
    // doubles fit as well as weights near 1: the estimates and their
    // covariance do not depend on the weights' scale, the weighted sums of
    // squares scale with it.
    double GetRegrWeightScale() const { return fRegrWeightScale; }
    // What the data say that the user should know: records left out for a
    // negative weight, frequency weights that are not whole numbers.
    const std::vector<std::string>& GetWarnings() const { return fvWarnings; }
    // A warning for each covariate whose values differ only beyond their
    // ninth significant digit: it is fitted, but its estimate can be no
    // more precise than the digits the data carry.
    std::vector<std::string> SpreadWarnings() const;
    // Beyond this magnitude a value's square, summed, overflows a double.
    static constexpr double kLargestSquarable = 1e150;
    // Below this magnitude a value's square, weighted by a share of the
    // total weight and compared with the aliasing tolerance, falls out of
    // the normal doubles: the sums lose their digits, and the fit takes the
    // term for constant, or every figure for missing.
    static constexpr double kSmallestSquarable = 1e-100;
    // The largest magnitude the covariates of a settings effect can reach
    // together: the product of theirs (1 for an effect of factors alone).
    double TermScale(std::size_t effect) const;
    // Throws HostError (data) for a dependent or covariate term so small
    // that its squares underflow, which the fit cannot tell from zero. With
    // the magnitudes of every process's records, once they are merged.
    void CheckScales() const;
    std::size_t GetNRecords() const { return fNRows; }
    // The records of this process's own data (GetNRecords counts every
    // process's once merged).
    std::size_t GetNLocalRecords() const { return fpData->fNRecords; }
    std::size_t GetNUsed() const { return fNUsed; }

    // For a model fitted by several processes, each over its own part of
    // the data (after AgreeColumnKinds): makes every process's model the one
    // of all the parts together — each factor's categories the sorted union
    // of the parts', the record counts summed — and hands the library the
    // processes' reducer.
    void MergeAcrossProcesses(Processes& processes);

    // A new pass-able stream of the records; one at a time.
    std::unique_ptr<MCCommon_850::MultiPassRecordIter> MakeIterator() const;
    // A stream of records begin .. end-1 alone (in file order); any number
    // may be read at once, each on its own thread.
    std::unique_ptr<MCCommon_850::MultiPassRecordIter> MakeRangeIterator(std::size_t begin,
                                                                         std::size_t end) const;

private:
    int AddVariable(const std::string& name, int column, ModelVariable::Role role);
    const CodedColumn& Column(const ModelVariable& v) const;
    void CheckNumeric(const ModelVariable& v) const;
    void RefuseDecimalCommas(const ModelVariable& v) const;
    void CheckWeights(const ModelVariable& v);
    // The factor that brings regression weights whose largest is maxWeight
    // to a scale where their products neither overflow nor underflow.
    static double WeightScale(double maxWeight);
    void BuildEffects(const Formula& formula);
    void UnionCategories(Processes& processes, ModelVariable& v);
    std::vector<ModelRecordIter::Slot> Slots() const;

    const CodedData* fpData;
    std::string fFormulaText;
    std::vector<ModelVariable> fvVariables;
    std::vector<int> fvFactorPositions;
    std::vector<int> fvCovariatePositions;
    std::vector<std::string> fvEffectTexts;
    std::vector<std::string> fvTextFactors;
    std::vector<std::vector<int>> fvEffectCovariates;
    std::vector<std::string> fvWarnings;
    double fRegrWeightScale = 1.0;
    // The cluster columns are given as the codes of their sorted values
    // (a split fit) rather than the codes of first appearance.
    bool fbClusterCodes = false;
    MCMath_850::MCRegSettings fSettings;
    std::size_t fNRows = 0;
    std::size_t fNUsed = 0;
};

}  // namespace mchost

// The message catalogue of the status codes.
//
// Each code has one or more message forms, tried in order; the first form
// whose placeholders all have data is used, so a status raised without its
// data still reads well. Placeholders: %dN is discrete datum N, %sN scale
// datum N. The data a code carries:
//
//   304  d1 number of the record (1-based) at which the iterator failed
//   305  d0 number of parameters (or rows) needed, d1 the limit; for a model
//        too large for the machine's memory also s1 the gigabytes needed and
//        s2 those there are
//   308  s1 the total weight
//   315  d1 number of values of the record, d2 length of the role map
//   316  d1 record position, s1 the offending value
//   318  d1 number of dependent categories with positive weight
//   319  d1 the requested reference category
//   320  d1 number of levels, d2 reference level
//   322  d1 columns of the L matrix, d2 number of parameters
//   324  d1 index of the compare factor
//   325, 326  d1 length of the metric list, d2 number of levels
//   327  d1 the reference category
//   328, 329  d1 the index, d2 the number of specifications (tests)
//   336  d1 dimension of the covariance matrix, d2 number of estimates
//   337  d1 number of the record in the pass (1-based), s1 its leverage
//   338  d1 number of clusters
//   339  d1 index of the model effect, d2 the record position
//   340  d1, d2 indices of the two model effects (d2 absent: the intercept)
//   341  s1 the tolerance
//   342  d1 record position, s1 the offending value
//   343  d1 the option (StatusCode::Option), d2 its value
//   344  d1 the parameter
//   345  d1 the parameter, d2 the significant digits left, s1 its mean over
//        its spread in its cells
//   346  d1 the parameter, d2 the significant digits left, s1 its size
//        over what the model's other columns leave of it

#include "companion/MCDisplay.h"
#include "companion/MCStatus.h"
#include "companion/MCStatusCodes.h"

namespace MCCommon_850 {

namespace {

struct Entry {
    long code;
    const char* forms[3];  // unused trailing forms are null
};

const Entry kCatalogue[] = {
    {StatusCode::kCancelled, {"The operation was cancelled."}},
    {StatusCode::kNoDependent, {"The settings name no dependent variable."}},
    {StatusCode::kEmptyModel,
     {"The model is empty: it has neither an intercept nor any model effect."}},
    {StatusCode::kMissingInput,
     {"Required input is missing, or an operation was called out of order."}},
    {StatusCode::kNoRecordInPass,
     {"The record iterator reported a record but returned none (record %d1).",
      "The record iterator reported a record but returned none."}},
    {StatusCode::kTooManyParameters,
     {"Too many parameters for this machine's memory: the model's %d0 parameters need %s1 GB "
      "for the cross-product and covariance matrices, the machine has %s2 GB, enough for "
      "%d1 parameters.",
      "Too many parameters: the model needs %d0, the limit is %d1.",
      "The model has too many parameters, or a matrix or the accumulator could not be "
      "created."}},
    {StatusCode::kDataPassTwice, {"The first data pass was run twice."}},
    {StatusCode::kNoValidRecord,
     {"There is no record, no valid record, or the data cannot be restarted."}},
    {StatusCode::kNoPositiveWeight,
     {"The total weight %s1 is not positive.",
      "No record has a positive weight, or the total weight is not positive."}},
    {StatusCode::kNothingToBuild,
     {"The model cannot be built: it has no parameters or no rows were accumulated."}},
    {StatusCode::kAlreadyBuilt,
     {"The model is already built, or statistics were requested before the build."}},
    {StatusCode::kNotBuilt, {"Scoring or statistics were requested before the model was built."}},
    {StatusCode::kNoRecordInFirstPass,
     {"The record iterator reported a record but returned none in the first pass."}},
    {StatusCode::kPassOutOfOrder,
     {"A data pass was run out of order, or a row was refused by the accumulation."}},
    {StatusCode::kPatternWithoutValues,
     {"A record without values was given to the pattern tabulation."}},
    {StatusCode::kShortRecord,
     {"The record has %d1 values, fewer than the %d2 record positions of the role map.",
      "A record is shorter than the role map."}},
    {StatusCode::kBadCategory,
     {"Record position %d1 holds the value %s1, which is not a valid category code (a whole "
      "number from 0 to the number of categories minus 1).",
      "Record position %d1 holds a value that is not a valid category code.",
      "A categorical value is not a whole number or not a valid category code."}},
    {StatusCode::kTooFewDepCategories,
     {"Only %d1 categories of the dependent variable have a positive weight; at least two "
      "are needed.",
      "Fewer than two categories of the dependent variable have a positive weight."}},
    {StatusCode::kEmptyReference,
     {"The requested reference category %d1 has no cases.",
      "The requested reference category has no cases."}},
    {StatusCode::kBadContrast,
     {"Invalid contrast: %d1 levels with reference level %d2.",
      "Invalid number of levels or reference level for a contrast."}},
    {StatusCode::kEmptyLMatrix, {"The L matrix is empty: there is no estimable contrast."}},
    {StatusCode::kLMatrixColumns,
     {"The L matrix has %d1 columns but the model has %d2 parameters.",
      "The number of columns of the L matrix differs from the number of parameters."}},
    {StatusCode::kEmptyHMatrix, {"The H matrix has no columns."}},
    {StatusCode::kOneLevelCompare,
     {"Compare factor %d1 has only one level.", "A compare factor has only one level."}},
    {StatusCode::kShortMetric,
     {"The metric list has %d1 values, fewer than the %d2 levels.",
      "The metric list is shorter than the number of levels."}},
    {StatusCode::kLongMetric,
     {"The metric list has %d1 values, more than the %d2 levels; the extra values are "
      "ignored.",
      "The metric list is longer than the number of levels; the extra values are ignored."}},
    {StatusCode::kReferenceNotLevel,
     {"The reference category %d1 is not a level of the compare factor.",
      "The reference category is not a level of the compare factor."}},
    {StatusCode::kSpecIndex,
     {"Specification index %d1 is out of range: there are %d2 specifications.",
      "Specification index %d1 is out of range.", "A specification index is out of range."}},
    {StatusCode::kTestIndex,
     {"Test index %d1 is out of range: there are %d2 tests.", "Test index %d1 is out of range.",
      "A test index is out of range."}},
    {StatusCode::kOneRowTest, {"A test has only one row, or there are no pairs to compare."}},
    {StatusCode::kLastLevelMissing, {"The last level is missing from a test."}},
    {StatusCode::kLevelsMissing, {"Some level combinations are missing from a test."}},
    {StatusCode::kSettingsDesignDisagree, {"The settings and the design matrix disagree."}},
    {StatusCode::kCovarianceDimension,
     {"The covariance matrix has dimension %d1 but there are %d2 estimates.",
      "The dimension of the covariance matrix differs from the number of estimates."}},
    {StatusCode::kLeverageOne,
     {"Record %d1 has leverage %s1: the model fits it exactly, so the HC2 and HC3 "
      "covariances, which divide by 1 minus the leverage, are not defined.",
      "A record has leverage 1: the HC2 and HC3 covariances are not defined."}},
    {StatusCode::kOneCluster,
     {"The records form %d1 cluster: a cluster-robust covariance needs at least two.",
      "A cluster-robust covariance needs at least two clusters."}},
    {StatusCode::kEffectVariable,
     {"Model effect %d1 uses record position %d2, which the settings do not give the role it "
      "has in the effect (a factor or a covariate).",
      "A model effect uses a record position that is not a factor or covariate of the model."}},
    {StatusCode::kDuplicateEffect,
     {"Model effects %d1 and %d2 are the same term.",
      "Model effect %d1 is an intercept, which the settings already include.",
      "Two model effects are the same term."}},
    {StatusCode::kBadTolerance,
     {"The singularity tolerance %s1 does not lie in [0, 1).",
      "The singularity tolerance does not lie in [0, 1)."}},
    {StatusCode::kNotFinite,
     {"Record position %d1 holds the value %s1, which is not a finite number.",
      "A covariate, dependent or weight value is not a finite number."}},
    {StatusCode::kBadOption,
     {"Option %d1 (1 test type, 2 p-value adjustment, 3 covariance type, 4 robust estimator, "
      "5 contrast, 6 scale of the marginal means) holds %d2, which is none of its codes.",
      "An option holds a value that is none of its codes."}},
    {StatusCode::kFarSlopeInCells,
     {"Parameter %d1 is a covariate within cells whose mean there is %s1 times its spread: "
      "the logistic model's standard errors keep about %d2 of a double's 16 significant digits. "
      "Centre "
      "the covariate.",
      "A covariate within cells is far from zero beside its spread there: the logistic "
      "model's standard errors lose digits. Centre the covariate."}},
    {StatusCode::kRobustFarProduct,
     {"Parameter %d1 is a product of covariates, without all the terms it contains, that is "
      "nearly collinear with the model's other columns (its size is %s1 times what they leave "
      "of it): its robust standard errors keep about %d2 of a double's 16 significant digits. "
      "Add the terms it contains or centre its covariates.",
      "A product of covariates without all the terms it contains is nearly collinear with the "
      "model's other columns: its robust standard errors lose digits. Add the terms it contains "
      "or centre its covariates."}},
    {StatusCode::kFarProductLogistic,
     {"Parameter %d1 is a product of covariates nearly collinear with the model's other columns "
      "(its size is %s1 times what they leave of it): the logistic model's estimates and "
      "standard errors keep about %d2 of a double's 16 significant digits. Centre its "
      "covariates.",
      "A product of covariates is nearly collinear with the model's other columns: the logistic "
      "model's estimates and standard errors lose digits. Centre its covariates."}},
    {StatusCode::kRobustFarInCells,
     {"Parameter %d1 is a covariate within the cells of an effect that is not in the model, "
      "far from zero beside its spread there: its robust covariance cannot be made precisely. "
      "Add the effect of its factors or centre the covariate.",
      "A covariate within the cells of an effect that is not in the model is too far from zero "
      "for a robust covariance: add the effect of its factors or centre the covariate."}},
};

}  // namespace

std::string MCStatus::GetMessage() const {
    if (IsOK()) return "OK";
    std::string out = (IsWarning() ? "Warning " : "Error ") + std::to_string(fCode) + ": ";

    // Fills the placeholders of form into text; false when a datum is absent.
    auto fill = [this](const char* form, std::string& text) {
        text.clear();
        for (const char* p = form; *p != '\0'; ++p) {
            if (p[0] == '%' && (p[1] == 'd' || p[1] == 's') && p[2] >= '0' && p[2] <= '9') {
                const int index = p[2] - '0';
                if (p[1] == 'd') {
                    long v = 0;
                    if (!GetDiscreteDatum(index, v)) return false;
                    text += std::to_string(v);
                } else {
                    double v = 0.0;
                    if (!GetScaleDatum(index, v)) return false;
                    text += MCDisplay_850::FormatDouble(v);
                }
                p += 2;
            } else {
                text += *p;
            }
        }
        return true;
    };

    for (const Entry& e : kCatalogue) {
        if (e.code != fCode) continue;
        std::string text;
        for (const char* form : e.forms)
            if (form != nullptr && fill(form, text)) return out + text;
        return out + text;  // not reached: every entry ends with a plain form
    }

    out += "Unrecognized status code.";
    for (const auto& d : fDiscrete)
        out += " d" + std::to_string(d.first) + "=" + std::to_string(d.second);
    for (const auto& s : fScale)
        out += " s" + std::to_string(s.first) + "=" + MCDisplay_850::FormatDouble(s.second);
    return out;
}

}  // namespace MCCommon_850

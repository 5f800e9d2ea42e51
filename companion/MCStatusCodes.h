#pragma once
#include "companion/MCStatus.h"

// The status codes the library raises, by name, and the two ways of making a
// status from one. The message of each code is in MCStatusMessages.cpp.
namespace MCCommon_850 {

namespace StatusCode {
enum : long {
    kCancelled = 1,
    kNoDependent = 301,
    kEmptyModel = 302,
    // Missing input, or an operation called out of order.
    kMissingInput = 303,
    // The iterator reported a record but returned none in a handler pass.
    kNoRecordInPass = 304,
    // Too many parameters, or a matrix or accumulator could not be created.
    kTooManyParameters = 305,
    // The same code where memory for a matrix, table or list ran out.
    kAllocationFailed = 305,
    kDataPassTwice = 306,
    // No record, no valid record, or the data cannot be restarted.
    kNoValidRecord = 307,
    // No weighted row, or a total weight that is not positive.
    kNoPositiveWeight = 308,
    // A build without parameters or without accumulated rows.
    kNothingToBuild = 309,
    kAlreadyBuilt = 310,
    kNotBuilt = 311,
    // The iterator reported a record but returned none in the first pass.
    kNoRecordInFirstPass = 312,
    // A pass out of order, or a row refused by the accumulation.
    kPassOutOfOrder = 313,
    kPatternWithoutValues = 314,
    kShortRecord = 315,
    kBadCategory = 316,
    kTooFewDepCategories = 318,
    kEmptyReference = 319,
    kBadContrast = 320,
    kEmptyLMatrix = 321,
    kLMatrixColumns = 322,
    kEmptyHMatrix = 323,
    kOneLevelCompare = 324,
    kShortMetric = 325,
    kLongMetric = 326,
    kReferenceNotLevel = 327,
    kSpecIndex = 328,
    kTestIndex = 329,
    kOneRowTest = 330,
    kLastLevelMissing = 331,
    kLevelsMissing = 332,
    kSettingsDesignDisagree = 335,
    kCovarianceDimension = 336,
    // A record with leverage 1 under an estimator that divides by 1 - h.
    kLeverageOne = 337,
    // Cluster-robust covariance with fewer than two clusters.
    kOneCluster = 338,
    // A model effect uses a record position that is not a factor (or not a
    // covariate) of the settings.
    kEffectVariable = 339,
    // Two model effects are the same term, or an intercept effect repeats
    // the intercept the settings already ask for.
    kDuplicateEffect = 340,
    // The singularity tolerance does not lie in [0, 1).
    kBadTolerance = 341,
    // A covariate, continuous dependent or weight that is infinite.
    kNotFinite = 342,
    // An option of the settings or of a request holds a value that is none
    // of its enumeration's codes.
    kBadOption = 343,
    // A robust covariance asked of a covariate within the cells of an
    // effect whose indicator is not in the model, far from zero beside its
    // spread in its cell: it cannot be made to a double's precision.
    kRobustFarInCells = 344,
    // A warning: the logistic model's information holds a covariate within
    // cells that is far from zero beside its spread there, uncentred, and
    // its inverse loses the square of that ratio in precision.
    kFarSlopeInCells = 345,
    // A warning: a product of covariates whose lower-order terms are not all
    // in the model is nearly collinear with the model's other columns, and
    // its robust covariance loses the square of that ratio in precision.
    kRobustFarProduct = 346,
    // A warning: the logistic model holds a product of covariates, each
    // centred on its own mean, that is nearly collinear with the model's
    // other columns (a square of a covariate far from zero beside its
    // spread, beside the covariate): its estimates and standard errors lose
    // the square of that ratio in precision.
    kFarProductLogistic = 347,
};

// The option a kBadOption status names (its datum 1).
enum Option : long {
    kOptionTestType = 1,
    kOptionPAdjustment = 2,
    kOptionCovarianceType = 3,
    kOptionRobustType = 4,
    kOptionContrastType = 5,
    kOptionMeansScale = 6,
};
}  // namespace StatusCode

inline MCStatus ErrorStatus(long code) {
    return MCStatus(code, false);
}
inline MCStatus WarningStatus(long code) {
    return MCStatus(code, true);
}

// Refuses option (a StatusCode::Option) for holding value.
inline MCStatus BadOptionStatus(long option, long value) {
    MCStatus s = ErrorStatus(StatusCode::kBadOption);
    s.SetDiscreteDatum(1, option);
    s.SetDiscreteDatum(2, value);
    return s;
}

// A warning that parameter (from 0) is `ratio` times larger than what
// rounding lets the fit know of it, which costs ratio^2 in precision: datum
// 1 the parameter (from 1), datum 2 the significant digits of a double
// left, scale datum 1 the ratio to two digits.
MCStatus PrecisionWarning(long code, int parameter, double ratio);

}  // namespace MCCommon_850

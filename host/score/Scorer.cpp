#include "host/score/Scorer.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <map>
#include <utility>

#include "companion/DoubleDouble.h"
#include "companion/MCDistFun.h"
#include "host/base/HostError.h"

namespace mchost {

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();

// Whole powers up to this are repeated products, as the fits form their
// design values; others go through pow.
constexpr double kMaxProductPower = 64.0;

bool IsProductPower(double power) {
    return power >= 1.0 && power <= kMaxProductPower && power == std::floor(power);
}

}  // namespace

Scorer::Scorer(PmmlModel model, const ScoreOptions& options)
    : fModel(std::move(model)), fOptions(options) {
    const bool linear = fModel.fKind == PmmlModel::kLinear;
    if (options.fInterval != ScoreOptions::kNoInterval && !linear)
        throw HostError(HostError::kUsage,
                        "intervals are for a linear model's predictions; a multinomial model's "
                        "probabilities get standard errors (--se)");
    if (!(options.fLevel > 0.0 && options.fLevel < 1.0))
        throw HostError(HostError::kUsage, "the level must lie strictly between 0 and 1");
    const bool needsCovariance =
        options.fbStandardErrors || options.fInterval != ScoreOptions::kNoInterval;
    if (needsCovariance && !fModel.HasCovariance())
        throw HostError(HostError::kData,
                        "the model has no covariance matrix of its estimates (PCovMatrix), so "
                        "its predictions have no standard errors or intervals");
    if (options.fInterval != ScoreOptions::kNoInterval) {
        if (!(fModel.fErrorDf > 0.0))
            throw HostError(HostError::kData,
                            "the model has no error degrees of freedom (ModelStats' Anova Error "
                            "row), so its predictions have no intervals");
        if (options.fInterval == ScoreOptions::kPrediction && !(fModel.fErrorMeanSquare >= 0.0))
            throw HostError(HostError::kData,
                            "the model has no error mean square (ModelStats' Anova Error row), "
                            "so its predictions have no prediction intervals");
        fQuantile = MCMath_850::MCDistFun::IdfT((1.0 + options.fLevel) / 2.0, fModel.fErrorDf);
    }
    if (linear) {
        fNOutputs = 1 + (options.fbStandardErrors ? 1 : 0) +
                    (options.fInterval != ScoreOptions::kNoInterval ? 2 : 0);
    } else {
        const std::size_t k = fModel.fvCategories.size();
        fNOutputs = k + 1 + (options.fbStandardErrors ? k : 0);
        for (const std::string& c : fModel.fvCategories) {
            const auto e = std::find(fModel.fvEquations.begin(), fModel.fvEquations.end(), c);
            fvEquationOf.push_back(e == fModel.fvEquations.end()
                                       ? -1
                                       : static_cast<int>(e - fModel.fvEquations.begin()));
        }
        fvCategoryOfEquation.assign(fModel.fvEquations.size(), 0);
        for (std::size_t m = 0; m < k; ++m)
            if (fvEquationOf[m] >= 0)
                fvCategoryOfEquation[static_cast<std::size_t>(fvEquationOf[m])] = m;
        const int reference = fModel.CategoryIndex(fModel.fReference);
        if (reference < 0 || fvEquationOf[static_cast<std::size_t>(reference)] >= 0)
            throw HostError(HostError::kData, "the model's reference category '" +
                                                  fModel.fReference +
                                                  "' is not one of its target's categories");
        fReferenceCategory = static_cast<std::size_t>(reference);
        if (!fModel.fvTiePrecedence.empty() && fModel.fvTiePrecedence.size() != k)
            throw HostError(HostError::kData,
                            "the model's tie precedence does not give every category one");
    }
    IndexParameters();
    if (fModel.fbEveryObservedCell) IndexTerms();
    if (!fModel.fvAliased.empty())
        fAliasing = AliasingCheck(fModel.fvParameters.size(), fModel.fvAliased);
    fvTerm.resize(fModel.fvParameters.size());
    fvTermLow.resize(fModel.fvParameters.size());
    fvEta.resize(fModel.fvEquations.size());
    fvProbability.resize(fModel.fvCategories.size());
    fvQuadratic.resize(fModel.fvEquations.size() * fModel.fvEquations.size());
    fvQuadraticSize.resize(fvQuadratic.size());
    fvEquationProbability.resize(fModel.fvEquations.size());
    fvGradient.resize(fModel.fvEquations.size());
}

double Scorer::Category(std::size_t predictor, const std::string& text) const {
    const ModelPredictor& p = fModel.fvPredictors[predictor];
    if (p.fbNumeric) {
        const char* begin = text.c_str();
        char* end = nullptr;
        const double v = std::strtod(begin, &end);
        if (end == begin || *end != '\0') return kUnseen;
        for (std::size_t k = 0; k < p.fvCategoryNumbers.size(); ++k)
            if (p.fvCategoryNumbers[k] == v) return static_cast<double>(k);
        return kUnseen;
    }
    for (std::size_t k = 0; k < p.fvCategories.size(); ++k)
        if (p.fvCategories[k] == text) return static_cast<double>(k);
    return kUnseen;
}

std::vector<std::string> Scorer::OutputNames() const {
    std::vector<std::string> names;
    if (fModel.fKind == PmmlModel::kLinear) {
        names.push_back("predicted");
        if (fOptions.fbStandardErrors) names.push_back("se");
        if (fOptions.fInterval != ScoreOptions::kNoInterval) {
            names.push_back("lower");
            names.push_back("upper");
        }
        return names;
    }
    for (const std::string& c : fModel.fvCategories) names.push_back("P(" + c + ")");
    names.push_back("predicted");
    if (fOptions.fbStandardErrors)
        for (const std::string& c : fModel.fvCategories) names.push_back("se P(" + c + ")");
    return names;
}

void Scorer::IndexParameters() {
    fvByFirstCategory.assign(fModel.fvPredictors.size(), {});
    for (std::size_t j = 0; j < fModel.fvCells.size(); ++j) {
        const auto first = std::find_if(
            fModel.fvCells[j].begin(), fModel.fvCells[j].end(), [&](const ParameterCell& c) {
                return fModel.fvPredictors[static_cast<std::size_t>(c.fPredictor)].fbFactor;
            });
        if (first == fModel.fvCells[j].end() || first->fCategory < 0) {
            fvAlways.push_back(j);
            continue;
        }
        auto& lists = fvByFirstCategory[static_cast<std::size_t>(first->fPredictor)];
        const auto category = static_cast<std::size_t>(first->fCategory);
        if (lists.size() <= category) lists.resize(category + 1);
        lists[category].push_back(j);
    }
}

void Scorer::IndexTerms() {
    std::map<std::vector<std::pair<int, double>>, int> terms;
    fvTermOf.assign(fModel.fvCells.size(), -1);
    for (std::size_t j = 0; j < fModel.fvCells.size(); ++j) {
        std::vector<std::pair<int, double>> key;
        std::string name;
        for (const ParameterCell& c : fModel.fvCells[j]) {
            const ModelPredictor& p = fModel.fvPredictors[static_cast<std::size_t>(c.fPredictor)];
            key.emplace_back(c.fPredictor, p.fbFactor ? -1.0 : c.fPower);
            if (p.fbFactor) name += (name.empty() ? "" : "*") + p.fName;
        }
        if (name.empty()) continue;
        std::sort(key.begin(), key.end());
        const auto [at, added] = terms.emplace(key, static_cast<int>(fvTermNames.size()));
        if (added) fvTermNames.push_back(name);
        fvTermOf[j] = at->second;
    }
    fvTermMet.assign(fvTermNames.size(), 0);
    fvUnobserved.assign(fvTermNames.size(), 0);
}

bool Scorer::InObservedCells() const {
    bool all = true;
    for (std::size_t t = 0; t < fvTermMet.size(); ++t)
        if (!fvTermMet[t]) {
            ++fvUnobserved[t];
            all = false;
        }
    return all;
}

bool Scorer::Determined() const {
    if (!fAliasing.Known()) return true;
    fvRow.clear();
    for (std::size_t j : fvNonZero) fvRow.emplace_back(static_cast<int>(j), fvTerm[j]);
    if (fAliasing.Determined(fvRow)) return true;
    ++fNUndetermined;
    return false;
}

std::vector<std::pair<std::string, std::size_t>> Scorer::UnobservedCells() const {
    std::vector<std::pair<std::string, std::size_t>> out;
    for (std::size_t t = 0; t < fvUnobserved.size(); ++t)
        out.emplace_back(fvTermNames[t], fvUnobserved[t]);
    return out;
}

void Scorer::Terms(const double* record) const {
    using MCMath_850::DoubleDouble::DD;
    using MCMath_850::DoubleDouble::Mul;
    // A linear model's products are kept in double-double; a multinomial
    // model's in doubles, multiplied in the order of its cells.
    const bool exact = fModel.fKind == PmmlModel::kLinear;
    fvCandidates = fvAlways;
    std::size_t sources = fvAlways.empty() ? 0 : 1;
    for (std::size_t i = 0; i < fvByFirstCategory.size(); ++i) {
        const auto& lists = fvByFirstCategory[i];
        const double v = record[i];
        if (lists.empty() || !(v >= 0.0) || v >= static_cast<double>(lists.size())) continue;
        const std::vector<std::size_t>& some = lists[static_cast<std::size_t>(v)];
        if (some.empty()) continue;
        fvCandidates.insert(fvCandidates.end(), some.begin(), some.end());
        ++sources;
    }
    // In parameter order, the order of the sums.
    if (sources > 1) std::sort(fvCandidates.begin(), fvCandidates.end());
    fvNonZero.clear();
    std::fill(fvTermMet.begin(), fvTermMet.end(), 0);
    for (std::size_t j : fvCandidates) {
        DD x{1.0, 0.0};
        bool met = true;
        for (const ParameterCell& c : fModel.fvCells[j]) {
            const double v = record[c.fPredictor];
            if (fModel.fvPredictors[static_cast<std::size_t>(c.fPredictor)].fbFactor) {
                if (v == static_cast<double>(c.fCategory)) continue;
                x = DD{0.0, 0.0};
                met = false;
                break;
            }
            if (IsProductPower(c.fPower)) {
                for (double m = 0.0; m < c.fPower; m += 1.0) {
                    if (exact)
                        x = Mul(x, v);
                    else
                        x.hi *= v;
                }
                continue;
            }
            const double w = c.fPower == 1.0 ? v : std::pow(v, c.fPower);
            if (exact)
                x = Mul(x, w);
            else
                x.hi *= w;
        }
        if (met && !fvTermOf.empty() && fvTermOf[j] >= 0)
            fvTermMet[static_cast<std::size_t>(fvTermOf[j])] = 1;
        fvTerm[j] = x.hi;
        fvTermLow[j] = x.lo;
        if (x.hi != 0.0) fvNonZero.push_back(j);
    }
}

double Scorer::LinearPredictor() const {
    const std::vector<double>& beta = fModel.fvBeta[0];
    double hi = 0.0, lo = 0.0;
    for (std::size_t j : fvNonZero) {
        double ph = 0.0, pl = 0.0;
        MCMath_850::DoubleDouble::TwoProd(fvTerm[j], beta[j], ph, pl);
        MCMath_850::DoubleDouble::Accumulate(hi, lo, ph, pl + fvTermLow[j] * beta[j]);
    }
    return hi + lo;
}

bool Scorer::Precedes(std::size_t a, std::size_t b) const {
    if (fModel.fvTiePrecedence.empty()) return a < b;
    return fModel.fvTiePrecedence[a] < fModel.fvTiePrecedence[b];
}

double Scorer::Quadratic(std::size_t k, std::size_t l, double* size) const {
    const std::size_t np = fModel.fvParameters.size();
    const std::size_t n = fModel.NCoefficients();
    const double* v = fModel.fvCovariance.data();
    double sum = 0.0, magnitude = 0.0;
    for (std::size_t a : fvNonZero) {
        const double* row = v + (k * np + a) * n + l * np;
        double inner = 0.0;
        for (std::size_t b : fvNonZero) inner += row[b] * fvTerm[b];
        sum += fvTerm[a] * inner;
        if (size == nullptr) continue;
        double innerMagnitude = 0.0;
        for (std::size_t b : fvNonZero) innerMagnitude += std::fabs(row[b] * fvTerm[b]);
        magnitude += std::fabs(fvTerm[a]) * innerMagnitude;
    }
    if (size != nullptr) *size = magnitude;
    return sum;
}

bool Scorer::Scorable(const double* record) const {
    for (std::size_t i = 0; i < fModel.fvPredictors.size(); ++i)
        if (std::isnan(record[i]) || (fModel.fvPredictors[i].fbFactor && record[i] < 0.0))
            return false;
    return true;
}

void Scorer::Logits() const {
    for (std::size_t k = 0; k < fvEta.size(); ++k) {
        const std::vector<double>& beta = fModel.fvBeta[k];
        double sum = 0.0;
        for (std::size_t j : fvNonZero) sum += beta[j] * fvTerm[j];
        fvEta[k] = sum;
    }
}

bool Scorer::Predict(const double* record, std::size_t& category) const {
    if (fModel.fKind == PmmlModel::kLinear || !Scorable(record)) return false;
    Terms(record);
    if (!InObservedCells() || !Determined()) return false;
    Logits();
    for (double e : fvEta)
        if (!std::isfinite(e)) return false;
    category = Leader();
    return true;
}

bool Scorer::Score(const double* record, double* out) const {
    std::fill(out, out + fNOutputs, kNaN);
    if (!Scorable(record)) return false;
    Terms(record);
    if (!InObservedCells() || !Determined()) return false;
    if (fModel.fKind == PmmlModel::kLinear) {
        fvEta[0] = LinearPredictor();
        std::size_t at = 0;
        out[at++] = fvEta[0];
        if (fNOutputs == 1) return true;
        double size = 0.0;
        const double q = std::max(Quadratic(0, 0, &size), 0.0);
        // Eight digits lost leave about eight; a variance below that is
        // rounding, which once gave a standard error of 0 or any small number.
        if (size > 0.0 && !(q > 1e-8 * size)) {
            ++fNImprecise;
            return true;
        }
        if (fOptions.fbStandardErrors) out[at++] = std::sqrt(q);
        if (fOptions.fInterval != ScoreOptions::kNoInterval) {
            const double half =
                fQuantile * std::sqrt(fOptions.fInterval == ScoreOptions::kPrediction
                                          ? fModel.fErrorMeanSquare + q
                                          : q);
            out[at++] = fvEta[0] - half;
            out[at++] = fvEta[0] + half;
        }
        return true;
    }
    Logits();
    return Probabilities(out);
}

std::size_t Scorer::Leader() const {
    // The reference leads; a logit clearly above the leader's takes the
    // lead, one within rounding of it ties, and the precedence decides.
    const double eps = std::numeric_limits<double>::epsilon();
    double lead = 0.0;
    std::size_t best = fReferenceCategory;
    for (std::size_t k = 0; k < fvEta.size(); ++k) {
        const std::size_t m = fvCategoryOfEquation[k];
        if (fvEta[k] > lead + eps) {
            lead = fvEta[k];
            best = m;
        } else if (fvEta[k] > lead - eps && Precedes(m, best)) {
            best = m;
        }
    }
    return best;
}

bool Scorer::Probabilities(double* out) const {
    // Softmax with the largest logit taken out, so that no exp overflows;
    // summed equation by equation, then the reference.
    double top = 0.0;
    for (double e : fvEta) {
        if (!std::isfinite(e)) return false;
        top = std::max(top, e);
    }
    const std::size_t ne = fvEta.size();
    std::vector<double>& pOfEquation = fvEquationProbability;
    double total = 0.0;
    for (std::size_t k = 0; k < ne; ++k) total += pOfEquation[k] = std::exp(fvEta[k] - top);
    const double reference = std::exp(-top);
    total += reference;
    const std::size_t nc = fvProbability.size();
    std::fill(fvProbability.begin(), fvProbability.end(), 0.0);
    for (std::size_t k = 0; k < ne; ++k) {
        pOfEquation[k] /= total;
        fvProbability[fvCategoryOfEquation[k]] = pOfEquation[k];
    }
    fvProbability[fReferenceCategory] = reference / total;
    for (std::size_t m = 0; m < nc; ++m) out[m] = fvProbability[m];
    out[nc] = static_cast<double>(Leader());
    if (!fOptions.fbStandardErrors) return true;
    // d p_m / d beta_(k, j) = p_m (delta_mk - p_k) x_j: the variance is
    // c' A c over the equations, A(k, l) = x' V_(k, l) x.
    // The sizes of the blocks' terms bound their rounding: at a covariate
    // far from zero x'V x sums terms some 1e12 times itself, as the linear
    // model's standard error does, and a standard error so made is left
    // empty (the record counted once).
    for (std::size_t k = 0; k < ne; ++k)
        for (std::size_t l = 0; l <= k; ++l) {
            double size = 0.0;
            fvQuadratic[k * ne + l] = fvQuadratic[l * ne + k] = Quadratic(k, l, &size);
            fvQuadraticSize[k * ne + l] = fvQuadraticSize[l * ne + k] = size;
        }
    std::vector<double>& c = fvGradient;
    bool imprecise = false;
    for (std::size_t m = 0; m < nc; ++m) {
        const double p = fvProbability[m];
        for (std::size_t k = 0; k < ne; ++k)
            c[k] = p * ((fvEquationOf[m] == static_cast<int>(k) ? 1.0 : 0.0) - pOfEquation[k]);
        double var = 0.0, size = 0.0;
        for (std::size_t k = 0; k < ne; ++k)
            for (std::size_t l = 0; l < ne; ++l) {
                var += c[k] * c[l] * fvQuadratic[k * ne + l];
                size += std::fabs(c[k] * c[l]) * fvQuadraticSize[k * ne + l];
            }
        var = std::max(var, 0.0);
        if (size > 0.0 && !(var > 1e-8 * size)) {
            imprecise = true;
            continue;
        }
        out[nc + 1 + m] = std::sqrt(var);
    }
    if (imprecise) ++fNImprecise;
    return true;
}

}  // namespace mchost

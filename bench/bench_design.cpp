// Per-record cost of the first data pass (MCFactorTables::UpdateAll) and of
// turning a record into its sparse design row (cell lookup + expansion).
//
// Data: factors A, B, C with 5, 10 and 20 categories, covariates
// x1 ~ N(50, 10) and x2 ~ U(0, 100), y; model intercept, A, B, C, x1, x2,
// A*B, A*x1. Every benchmark iteration handles one record, so the reported
// time per iteration is the time per record.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "companion/MCCancelInfo.h"
#include "companion/MCHashKey.h"
#include "companion/MCStatus.h"
#include "companion/Record.h"
#include "data/MCFactorTables.h"
#include "design/MCDesignMatrix.h"
#include "design/MCLiteDesignMatrix.h"
#include "settings/MCModelEffect.h"
#include "settings/MCRegSettings.h"

namespace {

using MCCommon_850::Record;
using namespace MCMath_850;

// Record layout.
enum { kY = 0, kA = 1, kB = 2, kC = 3, kX1 = 4, kX2 = 5, kNValues = 6 };
const int kNRecords = 1 << 16;

const std::vector<Record>& Records() {
    static const std::vector<Record> records = [] {
        std::mt19937_64 gen(20240611);
        std::uniform_int_distribution<int> a(0, 4), b(0, 9), c(0, 19);
        std::normal_distribution<double> x1(50.0, 10.0), noise(0.0, 1.0);
        std::uniform_real_distribution<double> x2(0.0, 100.0);
        std::vector<Record> out;
        out.reserve(kNRecords);
        for (int i = 0; i < kNRecords; ++i) {
            Record r(kNValues);
            r[kA] = a(gen);
            r[kB] = b(gen);
            r[kC] = c(gen);
            r[kX1] = x1(gen);
            r[kX2] = x2(gen);
            r[kY] = 0.3 * r[kA] - 0.1 * r[kB] + 0.02 * r[kX1] + noise(gen);
            out.push_back(r);
        }
        return out;
    }();
    return records;
}

MCRegSettings MakeSettings() {
    MCRegSettings s;
    s.SetDependent(kY);
    s.AddFactor(kA, 5);
    s.AddFactor(kB, 10);
    s.AddFactor(kC, 20);
    s.AddCovariate(kX1);
    s.AddCovariate(kX2);
    const std::vector<int> vars = {kA, kB, kC, kX1, kX2};
    auto effect = [&vars](std::vector<int> factors, std::vector<int> covariates) {
        MCModelEffect e(3, 2, &vars);
        for (int f : factors) e.AddNewFactor(f, false);
        for (int c : covariates) e.AddCovariate(c);
        return e;
    };
    s.AddModelEffect(effect({kA}, {}));
    s.AddModelEffect(effect({kB}, {}));
    s.AddModelEffect(effect({kC}, {}));
    s.AddModelEffect(effect({}, {kX1}));
    s.AddModelEffect(effect({}, {kX2}));
    s.AddModelEffect(effect({kA, kB}, {}));
    s.AddModelEffect(effect({kA}, {kX1}));
    return s;
}

// The tables as the general linear model sets them up for its first pass.
void BM_FactorTablesUpdateAll(benchmark::State& state) {
    const std::vector<Record>& data = Records();
    MCFactorTables tables({kA, kB, kC}, {5, 10, 20}, -1, -1, 0, 0, -1, 0.0, 0);
    tables.SetModelEffectFactors({{}, {kA}, {kB}, {kC}, {}, {}, {kA, kB}, {kA}});
    tables.SetCovariates({kX1, kX2, kY});
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(tables.UpdateAll(data[i]));
        if (++i == data.size()) i = 0;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FactorTablesUpdateAll);

struct FittedDesign {
    MCRegSettings settings = MakeSettings();
    MCCancelInfo cancel;
    MCCommon_850::MCWarnings warnings;
    MCDesignMatrix design{settings, cancel, warnings};
    FittedDesign() {
        for (const Record& r : Records()) design.GetFactorTables().UpdateAll(r);
        design.CreateParameters();
    }
};

void BM_DesignSparseRow(benchmark::State& state) {
    const std::vector<Record>& data = Records();
    FittedDesign fitted;
    std::vector<int> indices;
    std::vector<double> values;
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            fitted.design.ExpandRowX(data[i].GetAll(), indices, values, false));
        benchmark::DoNotOptimize(values.data());
        if (++i == data.size()) i = 0;
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["parameters"] = fitted.design.GetNFixedParameters();
}
BENCHMARK(BM_DesignSparseRow);

// The caller-buffer dense expansion that marginal means use, for comparison.
void BM_LiteDesignExpandRow(benchmark::State& state) {
    const std::vector<Record>& data = Records();
    FittedDesign fitted;
    MCLiteDesignMatrix lite({kA, kB, kC}, {}, {kX1, kX2});
    for (const MCRegrParameter& p : fitted.design.GetFixedParameters()) lite.AddRegrParameter(p);
    std::vector<MCHashKey> keys = lite.GetEffectsKeys();
    std::vector<int> factorValues;
    std::vector<double> xy;
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(lite.ExpandRow(data[i].GetAll(), xy, keys, factorValues, false));
        benchmark::DoNotOptimize(xy.data());
        if (++i == data.size()) i = 0;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LiteDesignExpandRow);

}  // namespace

// Running out of memory anywhere in a fit and the analyses after it: the
// Nth allocation of the sequence throws std::bad_alloc, for every N up to
// the sequence's count. No exception may leave the library, the first call
// that fails must say 305 (or answer null/false where that is its way of
// saying it), and every call that says it succeeded must give the numbers
// of the run without a failure. Calls after the failure run too, on objects
// that may be half built, and must neither crash nor lie. The program's
// operator new is replaced; it counts only while a sequence runs.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "companion/MCCancelInfo.h"
#include "companion/MCMemoryRecordIter.h"
#include "companion/MCStatusCodes.h"
#include "companion/MCVarList.h"
#include "companion/MCXMLElement.h"
#include "components/MCRegFactory.h"
#include "design/MCLiteDesignMatrix.h"
#include "design/MCParameterList.h"
#include "export/MCPMMLRegrExporter.h"
#include "export/MCRegrDoreZADUtil.h"
#include "glm/MCGLMOutputStats.h"
#include "hypothesis/MCModelEffectTest.h"
#include "logistic/MCLogOutputStats.h"
#include "marginals/MCMarginals.h"
#include "settings/MCLogRegSettings.h"
#include "settings/MCModelEffect.h"

namespace {

// Allocations counted while armed; the one numbered gFailAt throws.
bool gArmed = false;
long gCount = 0;
long gFailAt = 0;

void* Allocate(std::size_t n) {
    if (gArmed && ++gCount == gFailAt) throw std::bad_alloc();
    void* p = std::malloc(n == 0 ? 1 : n);
    if (p == nullptr) throw std::bad_alloc();
    return p;
}

void* AllocateAligned(std::size_t n, std::align_val_t a) {
    if (gArmed && ++gCount == gFailAt) throw std::bad_alloc();
    const std::size_t align = static_cast<std::size_t>(a);
    void* p = std::aligned_alloc(align, (n + align - 1) / align * align);
    if (p == nullptr) throw std::bad_alloc();
    return p;
}

// What the host itself allocates (copies of its inputs, objects that only
// hold what they are given) is not the library's to survive.
class HostSide {
public:
    HostSide() : fbSaved(gArmed) { gArmed = false; }
    ~HostSide() { gArmed = fbSaved; }
    HostSide(const HostSide&) = delete;
    HostSide& operator=(const HostSide&) = delete;

private:
    bool fbSaved;
};

}  // namespace

void* operator new(std::size_t n) {
    return Allocate(n);
}
void* operator new[](std::size_t n) {
    return Allocate(n);
}
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
    try {
        return Allocate(n);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
    try {
        return Allocate(n);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void* operator new(std::size_t n, std::align_val_t a) {
    return AllocateAligned(n, a);
}
void* operator new[](std::size_t n, std::align_val_t a) {
    return AllocateAligned(n, a);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
    std::free(p);
}

namespace {

using namespace MCMath_850;
using MCCommon_850::MCStatus;
using MCCommon_850::Record;
using MCXML_850::XMLElement;
namespace StatusCode = MCCommon_850::StatusCode;

// What one public call answered: its status code (kNull for a null or false
// answer) and a few of its numbers. Fixed size, so that recording a step
// allocates nothing.
constexpr long kNull = -1;
struct Step {
    const char* name = "";
    long code = 0;
    int nValues = 0;
    std::array<double, 12> values{};
};

struct Trace {
    std::array<Step, 40> steps;
    int n = 0;

    Step& Add(const char* name, long code) {
        Step& s = steps.at(static_cast<std::size_t>(n++));
        s.name = name;
        s.code = code;
        return s;
    }
    Step& Add(const char* name, const MCStatus& status) {
        return Add(name, status.IsError() ? status.GetErrorCode() : 0);
    }
    Step& Add(const char* name, bool ok) { return Add(name, ok ? 0 : kNull); }
};

void Put(Step& s, double v) {
    if (s.nValues < static_cast<int>(s.values.size()))
        s.values[static_cast<std::size_t>(s.nValues++)] = v;
}

bool Same(double a, double b) {
    if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
    return std::fabs(a - b) <= 1e-9 * std::max(1.0, std::fabs(b));
}

// y on A(3), B(2), A*B and x; 20 unbalanced records, every cell observed.
const std::vector<Record>& Records() {
    static const std::vector<Record> records = [] {
        const double A[] = {0, 0, 0, 0, 1, 1, 1, 2, 2, 2, 2, 2, 0, 1, 1, 2, 0, 1, 2, 2};
        const double B[] = {0, 0, 1, 1, 0, 1, 1, 0, 0, 1, 1, 1, 1, 0, 1, 0, 0, 0, 1, 0};
        const double X[] = {1.2, 2.5, 3.1, 0.7, 4.4, 2.2, 3.8, 1.9, 5.0, 2.7,
                            3.3, 0.9, 4.1, 1.5, 2.9, 3.6, 2.0, 4.8, 1.1, 2.4};
        const double Y[] = {5.1,  7.3, 9.0,  4.2, 11.8, 8.1,  10.9, 6.6,  12.4, 9.7,
                            10.5, 5.9, 10.2, 6.0, 9.1,  10.0, 6.2,  12.9, 6.8,  8.3};
        std::vector<Record> r;
        for (int i = 0; i < 20; ++i) r.push_back({Y[i], A[i], B[i], X[i]});
        return r;
    }();
    return records;
}

// The model's effects over positions 0 y, 1 A, 2 B, 3 x.
template <class Settings>
void Describe(Settings& s) {
    const std::vector<int> vars{1, 2, 3};
    EXPECT_GE(s.AddFactor(1, 3), 0);
    EXPECT_GE(s.AddFactor(2, 2), 0);
    EXPECT_GE(s.AddCovariate(3), 0);
    const std::vector<std::vector<int>> factorTerms{{1}, {2}, {1, 2}};
    for (const auto& t : factorTerms) {
        MCModelEffect e(2, 1, &vars);
        for (int f : t) EXPECT_TRUE(e.AddNewFactor(f, false));
        EXPECT_TRUE(s.AddModelEffect(e));
    }
    MCModelEffect x(2, 1, &vars);
    EXPECT_GE(x.AddCovariate(3), 0);
    EXPECT_TRUE(s.AddModelEffect(x));
}

// Everything the sequences need that is the host's own, made before the
// allocations are counted.
struct Inputs {
    MCRegSettings glm;
    MCLogRegSettings logistic;
    MCXML_850::MCVarList vars;
    std::vector<MCEmmeansSpec> specs;
    std::vector<int> first{0, 1, 4, 6, 12}, count{1, 3, 2, 6, 1};
    std::vector<double> covariateMeans;
    std::vector<double> covariateMeansByPosition;
    std::vector<Record> logisticRecords;

    Inputs() {
        EXPECT_TRUE(glm.SetDependent(0));
        Describe(glm);
        glm.SetKeepCrossProducts(true);
        // A two-category response made from y for the logistic model.
        for (const Record& r : Records()) {
            Record c = r;
            c[0] = r[0] > 8.5 ? 1.0 : 0.0;
            logisticRecords.push_back(c);
        }
        EXPECT_TRUE(logistic.SetDependent(0));
        EXPECT_TRUE(logistic.SetDependentRefCat(-1, 2));
        EXPECT_GE(logistic.AddFactor(1, 3), 0);
        EXPECT_GE(logistic.AddCovariate(3), 0);
        const std::vector<int> lv{1, 3};
        MCModelEffect a(1, 1, &lv), x(1, 1, &lv);
        EXPECT_TRUE(a.AddNewFactor(1, false));
        EXPECT_GE(x.AddCovariate(3), 0);
        EXPECT_TRUE(logistic.AddModelEffect(a));
        EXPECT_TRUE(logistic.AddModelEffect(x));

        vars.AddContinuousVar("y", 4, 13);
        vars.AddCategoricalVar("A", {"a0", "a1", "a2"});
        vars.AddCategoricalVar("B", {"b0", "b1"});
        vars.AddContinuousVar("x", 0.7, 5.0);

        MCEmmeansSpec pairs;
        EXPECT_GE(pairs.AddFactor(1), 0);
        EXPECT_GE(pairs.AddCompareFactor(1), 0);
        pairs.SetContrastType(MCConst::CONTRAST_PAIRWISE);
        pairs.SetPAdjust(MCConst::PADJ_BONFERRONI);
        specs.push_back(pairs);
        MCEmmeansSpec cells;
        EXPECT_GE(cells.AddFactor(1), 0);
        EXPECT_GE(cells.AddFactor(2), 0);
        specs.push_back(cells);
        double mean = 0;
        for (const Record& r : Records()) mean += r[3] / 20.0;
        covariateMeans = {mean};
    }
};

// Records the children of an exported element; null is its failure.
void PutElement(Trace& t, const char* name, XMLElement* e) {
    std::unique_ptr<XMLElement> owned(e);
    Step& s = t.Add(name, e != nullptr);
    if (e != nullptr) Put(s, e->GetNChildren());
}

void RunGlm(const Inputs& in, Trace& t) {
    std::optional<HostSide> host(std::in_place);
    MCRegSettings settings = in.glm;
    MCCommon_850::MCMemoryRecordIter iter(Records());
    std::vector<double> probabilities;
    MCLiteDesignMatrix design({1, 2}, {}, {3});
    host.reset();
    MCRegFactory factory;
    std::unique_ptr<IMCRegComponent> c(factory.CreateRegAlgorithm(settings));
    t.Add("factory",
          c ? 0 : (factory.GetStatus().IsError() ? factory.GetStatus().GetErrorCode() : kNull));
    if (!c) return;
    t.Add("build", c->BuildModel(iter));
    IMCRegOutputStats* out = nullptr;
    Step& os = t.Add("output stats", c->GetOutputStats(out));
    double value = 0;
    Step& sc = t.Add("score", c->Score(Records()[3], value, probabilities));
    if (sc.code == 0) Put(sc, value);
    if (out == nullptr) return;
    const auto& glm = static_cast<const MCGLMOutputStats&>(*out);
    for (double b : glm.GetParamEstimates()) Put(os, b);
    Put(os, glm.GetErrorDF());
    if (glm.GetCovarianceMatrix() != nullptr) Put(os, glm.GetCovarianceMatrix()->GetElem(1, 1));

    const MCBitSet& nonRedundant = glm.GetRedundancyIndicators();
    MCModelEffectTest met(settings, settings.GetModelEffects(), glm.GetParamEstimates(), in.first,
                          in.count, MCConst::ANALYSIS_TYPE_I_AND_III, glm.GetCovarianceMatrix(),
                          glm.GetSweptCrossProducts(), &nonRedundant, MCConst::DIST_NORMAL, 2,
                          nullptr, glm.GetErrorDF(), nullptr);
    t.Add("effect tests made", met.GetStatus());
    Step& et = t.Add("effect tests", met.TestModelEffect());
    if (et.code == 0) {
        for (const MCModelTestStats* stats : {met.GetTypeITestStats(), met.GetTypeIIITestStats()})
            for (int e = 1; stats != nullptr && e < stats->GetNTests(); ++e)
                Put(et, stats->GetTestStats(e)->GetWald());
    }
    const MCModelTestStats* model = met.GetCorrectedModelTestStats(nullptr);
    Step& mt = t.Add("model test", model != nullptr);
    if (model != nullptr && model->GetNTests() > 0) Put(mt, model->GetTestStats(0)->GetWald());
    const MCRectMatrix* L = met.ComputeLMatrix(3);
    Step& lm = t.Add("L matrix", L != nullptr);
    if (L != nullptr) Put(lm, L->GetNRows());
    MCRectMatrix gef;
    std::vector<int> rows;
    Step& ge = t.Add("estimable function", met.GetGeneralEstimableFunction(&gef, rows));
    Put(ge, static_cast<double>(rows.size()));

    bool added = true;
    for (const MCRegrParameter& p : glm.GetParameters())
        added = design.AddRegrParameter(p) && added;
    t.Add("design", added);
    MCCancelInfo cancel;
    MCMarginals m(settings, in.specs, design, glm.GetParamEstimates(), cancel, in.covariateMeans,
                  nullptr, MCConst::LINK_IDENTITY, 0.0);
    t.Add("marginals made", m.GetStatus());
    t.Add("marginals testing",
          m.SetEmmeansTesting(glm.GetCovarianceMatrix(), nonRedundant, glm.GetErrorDF(), nullptr));
    for (int spec = 0; spec < 2; ++spec) {
        MCEmmeansSpec specOut;
        MCRectMatrix ml;
        std::vector<MCEmmeansStats> stats;
        Step& ms = t.Add("means", m.GetEmmeansStats(spec, specOut, ml, stats));
        if (ms.code == 0)
            for (const MCEmmeansStats& s : stats) {
                Put(ms, s.GetMean());
                Put(ms, s.GetStandardError());
            }
    }
    MCMarginals::FixedLevels fixed;
    std::vector<int> compared;
    for (int pair = 0; pair < 3; ++pair) {
        MCEmmeansStats ps;
        Step& p = t.Add("pair", m.GetPairwiseEmmeansTests(0, 0, pair, fixed, compared, ps));
        if (p.code == 0) {
            Put(p, ps.GetMean());
            Put(p, ps.GetSignificance());
        }
    }

    // A part-built design gives no means at all, rather than means of the
    // parameters it happens to hold.
    if (!added) {
        EXPECT_TRUE(m.GetStatus().IsError());
    }

    MCPMMLRegrExporter ex(settings, in.vars, glm.GetParameters(), glm.GetParamEstimates(),
                          nonRedundant, nullptr);
    PutElement(t, "mining schema", ex.ExportMiningSchema(-1, -1, nullptr));
    PutElement(t, "parameter list", ex.ExportParameterList());
    PutElement(t, "factor list", ex.ExportFactorList());
    PutElement(t, "covariate list", ex.ExportCovariateList());
    PutElement(t, "PP matrix", ex.ExportPPMatrix());
    PutElement(t, "param matrix", ex.ExportParamMatrix(false, 0));
    if (glm.GetCovarianceMatrix() != nullptr)
        PutElement(t, "PCov matrix",
                   ex.ExportPCovMatrix(*glm.GetCovarianceMatrix(), MCConst::COVB_MODEL, false, 0));
    PutElement(t, "parameter estimates",
               MCRegrDoreZADUtil::CreateParameterEstimates(glm.GetParamStats(), settings, in.vars,
                                                           glm.GetParameters(), "model", "glm",
                                                           nullptr, false));
}

void RunLogistic(const Inputs& in, Trace& t) {
    std::optional<HostSide> host(std::in_place);
    MCLogRegSettings settings = in.logistic;
    MCCommon_850::MCMemoryRecordIter iter(in.logisticRecords);
    std::vector<double> probabilities;
    host.reset();
    MCRegFactory factory;
    std::unique_ptr<IMCRegComponent> c(factory.CreateRegAlgorithm(settings));
    t.Add("factory",
          c ? 0 : (factory.GetStatus().IsError() ? factory.GetStatus().GetErrorCode() : kNull));
    if (!c) return;
    t.Add("build", c->BuildModel(iter));
    IMCRegOutputStats* out = nullptr;
    Step& os = t.Add("output stats", c->GetOutputStats(out));
    double value = 0;
    Step& sc = t.Add("score", c->Score(in.logisticRecords[5], value, probabilities));
    if (sc.code == 0 && probabilities.size() == 2) Put(sc, probabilities[0]);
    if (out == nullptr) return;
    const auto& log = static_cast<const MCLogOutputStats&>(*out);
    for (double b : log.GetParamEstimates()) Put(os, b);
    Put(os, log.GetFinalLogLikelihood());
}

// Runs the sequence with the Nth allocation failing (0: none); the number
// of allocations it made comes back in count.
bool Run(const std::function<void(const Inputs&, Trace&)>& sequence, const Inputs& in, long n,
         Trace& t, long& count) {
    gCount = 0;
    gFailAt = n;
    gArmed = true;
    bool escaped = false;
    try {
        sequence(in, t);
    } catch (...) {
        escaped = true;
    }
    gArmed = false;
    count = gCount;
    return !escaped;
}

// Whether a faulty run told the truth: every step that succeeded has the
// reference's numbers, and the first step that did not says 305 or null.
std::string Check(const Trace& ref, const Trace& got) {
    bool failed = false;
    for (int i = 0; i < got.n; ++i) {
        const Step& g = got.steps[static_cast<std::size_t>(i)];
        if (i >= ref.n) return std::string("extra step ") + g.name;
        const Step& r = ref.steps[static_cast<std::size_t>(i)];
        if (std::string(g.name) != r.name) return std::string("step ") + g.name + " for " + r.name;
        if (g.code != 0 && g.code == r.code) continue;  // fails in the reference too
        if (g.code != 0) {
            if (!failed && g.code != StatusCode::kAllocationFailed && g.code != kNull)
                return std::string(g.name) + " failed first with " + std::to_string(g.code);
            failed = true;
            continue;
        }
        if (r.code != 0) return std::string(g.name) + " succeeded where the reference failed";
        if (g.nValues != r.nValues) return std::string(g.name) + ": other number of values";
        for (int k = 0; k < g.nValues; ++k)
            if (!Same(g.values[static_cast<std::size_t>(k)], r.values[static_cast<std::size_t>(k)]))
                return std::string(g.name) + ": value " + std::to_string(k) + " differs";
    }
    return "";
}

void InjectEveryAllocation(const std::function<void(const Inputs&, Trace&)>& sequence,
                           int minSteps) {
    const Inputs in;
    Trace ref;
    long total = 0;
    ASSERT_TRUE(Run(sequence, in, 0, ref, total));
    ASSERT_GE(ref.n, minSteps);
    for (int i = 0; i < ref.n; ++i)
        ASSERT_EQ(ref.steps[static_cast<std::size_t>(i)].code, 0)
            << ref.steps[static_cast<std::size_t>(i)].name;
    ASSERT_GT(total, 100);
    // Every allocation up to ten thousand, then a stride that still lands
    // in every step.
    const long stride = total > 20000 ? 7 : 1;
    // MCREG_ALLOC_FAIL_AT=N runs the one case, to follow it in a debugger.
    const char* only = std::getenv("MCREG_ALLOC_FAIL_AT");
    const long from = only != nullptr ? std::atol(only) : 1;
    const long to = only != nullptr ? from : total;
    // Each kind of fault once, at the first allocation that shows it.
    std::map<std::string, long> faults;
    for (long n = from; n <= to; n += (n < 10000 ? 1 : stride)) {
        Trace t;
        long count = 0;
        if (!Run(sequence, in, n, t, count)) faults.emplace("an exception escaped", n);
        const std::string problem = Check(ref, t);
        if (!problem.empty()) faults.emplace(problem, n);
    }
    for (const auto& [problem, n] : faults)
        ADD_FAILURE() << problem << " (allocation " << n << " of " << total << ")";
}

TEST(AllocationFailure, GlmTestsMeansAndExportNeverThrowNorLie) {
    InjectEveryAllocation(RunGlm, 25);
}

TEST(AllocationFailure, LogisticFitNeverThrowsNorLies) {
    InjectEveryAllocation(RunLogistic, 4);
}

}  // namespace

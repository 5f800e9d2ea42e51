// A host built against the installed package: it must compile with the
// umbrella header alone, link with mcreg::mcreg and fit both models through
// what libmcreg.so exports.
#include <mcreg/mcreg.h>

// The include path carries only mcreg/: the library's folder names are not
// visible on their own, and internal headers are not installed.
#if __has_include(<settings/MCRegSettings.h>) || __has_include("settings/MCRegSettings.h")
#error "the library's folders are on the host's include path"
#endif
#if __has_include(<mcreg/glm/MCGLMModel.h>) || __has_include(<mcreg/design/MCDesignMatrix.h>) || \
    __has_include(<mcreg/link/MCLinkFunctions.h>)
#error "internal headers are installed"
#endif
#if !__has_include(<mcreg/settings/MCRegSettings.h>) || !__has_include(<mcreg/companion/MCExport.h>)
#error "a public header is missing"
#endif

#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

using namespace MCMath_850;
using MCCommon_850::Record;

namespace {

// The estimates of a model fitted to the records, or an empty vector (with a
// message) when the library refused.
std::vector<double> Fit(MCRegSettings& settings, const std::vector<Record>& records) {
    MCRegFactory factory;
    std::unique_ptr<IMCRegComponent> component(factory.CreateRegAlgorithm(settings));
    MCCommon_850::MCMemoryRecordIter iter(records);
    IMCRegOutputStats* stats = nullptr;
    if (!component || !component->BuildModel(iter).IsOK() ||
        !component->GetOutputStats(stats).IsOK() || !stats->GetCovarianceMatrix()) {
        std::printf("the fit failed\n");
        return {};
    }
    return stats->GetParamEstimates();
}

bool Near(const std::vector<double>& got, const std::vector<double>& want, double tol,
          const char* what) {
    bool ok = got.size() == want.size();
    for (std::size_t i = 0; ok && i < want.size(); ++i) ok = std::fabs(got[i] - want[i]) <= tol;
    std::printf("%s:", what);
    for (double b : got) std::printf(" %.15g", b);
    std::printf("%s\n", ok ? "" : "  (wrong)");
    return ok;
}

// y = 1 + 2 [a = 0] + 3 x exactly, a a factor of two categories: the
// intercept, a = 0, a = 1 (aliased) and x.
bool FitsGeneralLinearModel() {
    std::vector<Record> records;
    for (int i = 0; i < 10; ++i) {
        const double a = i % 2, x = i / 2;
        records.push_back(Record{1.0 + 2.0 * (a == 0.0) + 3.0 * x, a, x});
    }
    MCRegSettings settings;
    settings.SetDependent(0);
    settings.AddFactor(1, 2);
    settings.AddCovariate(2);
    std::vector<int> vars = {1, 2};
    MCModelEffect a(1, 1, &vars), x(1, 1, &vars);
    a.AddNewFactor(1, false);
    x.AddCovariate(2);
    settings.AddModelEffect(a);
    settings.AddModelEffect(x);
    return Near(Fit(settings, records), {1.0, 2.0, 0.0, 3.0}, 1e-12, "linear model");
}

// The saturated multinomial model of y (three categories, the last the
// reference) on a factor a: each logit's intercept is the log odds in a = 1,
// its a = 0 parameter the log odds ratio of a = 0 against a = 1.
bool FitsMultinomialLogisticModel() {
    const int counts[2][3] = {{4, 2, 1}, {1, 3, 2}};
    std::vector<Record> records;
    for (int a = 0; a < 2; ++a)
        for (int y = 0; y < 3; ++y)
            for (int n = 0; n < counts[a][y]; ++n) records.push_back(Record{double(y), double(a)});
    MCLogRegSettings settings;
    settings.SetDependent(0);
    settings.SetDependentRefCat(-1, 3);
    settings.AddFactor(1, 2);
    std::vector<int> vars = {1};
    MCModelEffect a(1, 0, &vars);
    a.AddNewFactor(1, false);
    settings.AddModelEffect(a);
    const std::vector<double> want = {std::log(1.0 / 2.0), std::log(8.0),       0.0,
                                      std::log(3.0 / 2.0), std::log(4.0 / 3.0), 0.0};
    return Near(Fit(settings, records), want, 1e-9, "multinomial logistic model");
}

}  // namespace

int main() {
    const bool linear = FitsGeneralLinearModel();
    const bool logistic = FitsMultinomialLogisticModel();
    std::printf("%s\n", linear && logistic ? "installed mcreg fits" : "installed mcreg is broken");
    return linear && logistic ? 0 : 1;
}

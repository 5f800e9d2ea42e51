// A host built against the installed package: it must compile with the
// umbrella header alone, link with mcreg::mcreg and fit a model.
#include <mcreg/mcreg.h>

// The include path carries only mcreg/: the library's folder names are not
// visible on their own, and internal headers are not installed.
#if __has_include(<settings/MCRegSettings.h>) || __has_include("settings/MCRegSettings.h")
#error "the library's folders are on the host's include path"
#endif
#if __has_include(<mcreg/companion/DoubleDouble.h>) || __has_include(<mcreg/glm/MCGLMModel.h>) || \
    __has_include(<mcreg/companion/MCStatusCodes.h>)
#error "internal headers are installed"
#endif
#if !__has_include(<mcreg/settings/MCRegSettings.h>)
#error "a public header is missing"
#endif

#include <cmath>
#include <cstdio>
#include <memory>

using namespace MCMath_850;

int main() {
    // y = 2 + 3 x, exactly.
    std::vector<MCCommon_850::Record> records;
    for (int i = 0; i < 5; ++i) records.push_back(MCCommon_850::Record{2.0 + 3.0 * i, double(i)});
    MCRegSettings settings;
    settings.SetDependent(0);
    settings.AddCovariate(1);
    std::vector<int> vars = {1};
    MCModelEffect x(0, 1, &vars);
    x.AddCovariate(1);
    settings.AddModelEffect(x);

    MCRegFactory factory;
    std::unique_ptr<IMCRegComponent> component(factory.CreateRegAlgorithm(settings));
    MCCommon_850::MCMemoryRecordIter iter(records);
    IMCRegOutputStats* stats = nullptr;
    const bool ok = component && component->BuildModel(iter).IsOK() &&
                    component->GetOutputStats(stats).IsOK() &&
                    std::fabs(stats->GetParamEstimates()[0] - 2.0) < 1e-12 &&
                    std::fabs(stats->GetParamEstimates()[1] - 3.0) < 1e-12;
    std::printf("%s\n", ok ? "installed mcreg fits" : "installed mcreg is broken");
    return ok ? 0 : 1;
}

// A host built against the installed package: it must compile with the
// umbrella header alone and link with mcreg::mcreg.
#include <mcreg/mcreg.h>

#include <cstdio>

int main() {
    MCMath_850::MCBitSet set(3);
    set.Set(1);
    MCCommon_850::MCStatus status(316, false);
    status.SetDiscreteDatum(1, 4);
    const bool ok = set.IsIn(1) && status.IsError() && !status.GetMessage().empty() &&
                    MCCommon_850::MCMV::IsMissing(MCCommon_850::MCMV::Missing());
    std::printf("%s\n", ok ? "installed mcreg works" : "installed mcreg is broken");
    return ok ? 0 : 1;
}

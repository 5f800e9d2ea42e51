#pragma once
// The library's own use of MCRegrParameter::SetupFromEffect, whose refusal
// a host reads as false: inside a public operation running out of memory
// must reach that operation's allocation guard instead of leaving a
// parameter without its factors. Internal to the library.
#include <new>

#include "design/MCRegrParameter.h"
#include "settings/MCModelEffect.h"

namespace MCMath_850 {

// Sets p up from effect number e; false (p unchanged) for an effect with
// neither factors nor covariates. Throws std::bad_alloc when memory runs out.
inline bool SetupFromEffectOrThrow(MCRegrParameter& p, const MCModelEffect& effect, int e) {
    if (p.SetupFromEffect(effect, e, 0)) return true;
    if (!effect.IsIntercept() && e >= 0) throw std::bad_alloc();
    return false;
}

}  // namespace MCMath_850

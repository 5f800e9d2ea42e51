#include "host/fit/FitFailure.h"

#include "host/base/HostError.h"
#include "host/fit/GlmFit.h"

namespace mchost {

void RethrowFitFailure(const std::exception_ptr& failure, const Processes* processes) {
    if (processes == nullptr || !processes->IsSplit()) std::rethrow_exception(failure);
    try {
        std::rethrow_exception(failure);
    } catch (const LibraryError&) {
        throw;
    } catch (const HostError& e) {
        if (e.GetKind() == HostError::kInterrupted) throw;
        throw LocalError(e.GetKind(), e.what());
    }
}

}  // namespace mchost

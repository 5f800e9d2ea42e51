#include "cli/Interrupt.h"

#include <pthread.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "host/base/HostError.h"
#include "host/report/OutputFile.h"

namespace mcregcli {

namespace {

std::atomic<bool> gInterrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the flag is set in a signal handler");

extern "C" void OnInterrupt(int signal) {
    if (!gInterrupted.exchange(true)) {
        // The run unwinds and removes them itself, unless it is killed
        // first, as mpirun does to the processes it passes a SIGTERM to.
        mchost::OutputFile::AbandonUnfinished();
        return;
    }
    // The second: at once, taking nothing unfinished along.
    mchost::OutputFile::RemoveUnfinished();
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

sigset_t Caught() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

}  // namespace

void CatchInterrupt() {
    struct sigaction sa {};
    sa.sa_handler = OnInterrupt;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;  // no SA_RESTART: a blocked read or write returns to look at the flag
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

const std::atomic<bool>* InterruptFlag() {
    return &gInterrupted;
}

bool Interrupted() {
    return gInterrupted.load(std::memory_order_relaxed);
}

void ThrowIfInterrupted() {
    if (Interrupted()) throw mchost::HostError(mchost::HostError::kInterrupted, "interrupted");
}

HeldInterrupts::HeldInterrupts() {
    const sigset_t set = Caught();
    pthread_sigmask(SIG_BLOCK, &set, &fOld);
}

HeldInterrupts::~HeldInterrupts() {
    pthread_sigmask(SIG_SETMASK, &fOld, nullptr);
}

bool InterruptQuery::IsCancel() {
    ++fPolls;
    if (fPoint != nullptr) TestPoint(fPoint);
    if (fOnPoll) fOnPoll(fPolls);
    return Interrupted();
}

void TestPoint(const char* point) {
    static const char* const failAt = std::getenv("MCREG_TEST_FAIL");
    if (failAt != nullptr && std::strcmp(failAt, point) == 0)
        throw mchost::HostError(mchost::HostError::kData,
                                std::string("failed at the test point '") + point + "'");
    static const char* const spec = std::getenv("MCREG_TEST_SIGNAL");
    static bool done = false;
    if (spec == nullptr || done) return;
    const char* colon = std::strchr(spec, ':');
    const std::size_t n = colon != nullptr ? static_cast<std::size_t>(colon - spec) : 0;
    if (colon == nullptr || std::strlen(point) != n || std::strncmp(spec, point, n) != 0) return;
    done = true;
    char* end = nullptr;
    const long signal = std::strtol(colon + 1, &end, 10);
    const long count = *end == ':' ? std::strtol(end + 1, nullptr, 10) : 1;
    for (long i = 0; i < count; ++i) std::raise(static_cast<int>(signal));
}

}  // namespace mcregcli

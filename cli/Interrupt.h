#pragma once
#include <atomic>
#include <csignal>
#include <cstddef>
#include <functional>

#include "companion/RecordIterator.h"

// How the program stops when it is asked to. The first SIGINT (Ctrl-C) or
// SIGTERM sets a flag that the reading, the library (through
// InterruptQuery) and the writers poll: the work unwinds, every unfinished
// output file is removed and the program exits with status 130. A second
// signal ends the process at once, after removing the unfinished files.
namespace mcregcli {

void CatchInterrupt();

const std::atomic<bool>* InterruptFlag();
bool Interrupted();
// Throws HostError (interrupted) once the flag is set.
void ThrowIfInterrupted();

// The signals are held back while it lives: files put into place under it
// are put there all or none, and an interrupt that came meanwhile is seen
// afterwards.
class HeldInterrupts {
public:
    HeldInterrupts();
    ~HeldInterrupts();
    HeldInterrupts(const HeldInterrupts&) = delete;
    HeldInterrupts& operator=(const HeldInterrupts&) = delete;

private:
    sigset_t fOld;
};

// The library asks between records and between the sweep's pivots;
// counting the questions tells how far the sweep has come. fPoint names
// the work for the interruption tests (TestPoint).
class InterruptQuery : public MCCommon_850::MCQueryCancel {
public:
    bool IsCancel() override;
    std::function<void(std::size_t)> fOnPoll;
    std::size_t fPolls = 0;
    const char* fPoint = nullptr;
};

// For the end-to-end tests of interruption only: with MCREG_TEST_SIGNAL
// set to "point:signal" (or "point:signal:count"), the program sends
// itself the signal (count times) the first time it reaches the named
// point, so that those tests need no timing. With MCREG_TEST_FAIL set to
// the point's name it throws a data error there instead, for the tests of
// a failure that one process of a split fit meets alone. Does nothing
// otherwise.
void TestPoint(const char* point);

}  // namespace mcregcli

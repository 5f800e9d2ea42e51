#pragma once
#include <atomic>
#include <chrono>
#include <cstddef>

#include "companion/RecordIterator.h"

namespace mcregpy {

// Lets Ctrl-C stop work that runs without the GIL. Python runs its signal
// handlers only when it has the interpreter, so every so often the cancel
// query takes the GIL back and asks it; a KeyboardInterrupt (or any error a
// handler raised) is cleared there, remembered and turned into a cancel
// that the library and the readers see.
class PythonCancel : public MCCommon_850::MCQueryCancel {
public:
    bool IsCancel() override;
    // For callbacks that are not polled often (a reader's blocks): ask now.
    bool Poll();
    // The flag a reader watches.
    const std::atomic<bool>* Flag() const { return &fStop; }
    bool Interrupted() const { return fStop.load(); }
    // Before new work: an interrupt of the work before is spent.
    void Reset() { fStop = false; }

private:
    std::atomic<bool> fStop{false};
    std::size_t fCalls = 0;
    std::chrono::steady_clock::time_point fLast = std::chrono::steady_clock::now();
};

}  // namespace mcregpy

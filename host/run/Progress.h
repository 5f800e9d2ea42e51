#pragma once
#include <chrono>
#include <cstddef>
#include <string>

namespace mchost {

// A one-line progress display on stderr for work that takes a while: it
// stays silent unless stderr is a terminal, shows nothing during the first
// second, redraws at most ten times a second and clears its line at the
// end, so quick runs and redirected output are left untouched.
class TerminalProgress {
public:
    TerminalProgress();
    ~TerminalProgress() { Clear(); }
    TerminalProgress(const TerminalProgress&) = delete;
    TerminalProgress& operator=(const TerminalProgress&) = delete;

    // The text of the current step, e.g. "reading data.csv: 40%".
    void Show(const std::string& text);
    void Clear();

    bool IsEnabled() const { return fbEnabled; }

private:
    using Clock = std::chrono::steady_clock;
    bool fbEnabled;
    bool fbShown = false;
    Clock::time_point fStart;
    Clock::time_point fLast;
};

}  // namespace mchost

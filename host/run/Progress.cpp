#include "host/run/Progress.h"

#include <unistd.h>

#include <cstdio>

namespace mchost {

TerminalProgress::TerminalProgress()
    : fbEnabled(isatty(STDERR_FILENO) == 1), fStart(Clock::now()), fLast(fStart) {}

void TerminalProgress::Show(const std::string& text) {
    if (!fbEnabled) return;
    const Clock::time_point now = Clock::now();
    if (now - fStart < std::chrono::seconds(1)) return;
    if (fbShown && now - fLast < std::chrono::milliseconds(100)) return;
    fLast = now;
    fbShown = true;
    std::fprintf(stderr, "\r\033[K%s", text.c_str());
    std::fflush(stderr);
}

void TerminalProgress::Clear() {
    if (!fbShown) return;
    std::fprintf(stderr, "\r\033[K");
    std::fflush(stderr);
    fbShown = false;
}

}  // namespace mchost

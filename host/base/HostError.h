#pragma once
#include <cstddef>
#include <stdexcept>
#include <string>

namespace mchost {

// A failure the user can act on. The kind decides the program's exit code:
// a usage error means the command line is wrong (options, formula, column
// names), a data error means the data or the model cannot be fitted, and an
// interruption means the user stopped the work (Ctrl-C).
class HostError : public std::runtime_error {
public:
    enum Kind { kUsage = 2, kData = 3, kInterrupted = 130 };

    HostError(Kind kind, const std::string& message) : std::runtime_error(message), fKind(kind) {}

    Kind GetKind() const { return fKind; }

private:
    Kind fKind;
};

// A usage error inside the formula text, with the offending span so the
// message can point at it.
class FormulaError : public HostError {
public:
    FormulaError(const std::string& message, std::size_t pos, std::size_t len)
        : HostError(kUsage, message), fPos(pos), fLen(len) {}

    std::size_t GetPos() const { return fPos; }
    std::size_t GetLen() const { return fLen; }

private:
    std::size_t fPos;
    std::size_t fLen;
};

// A failure only this process met in a fit split over several processes
// (a part's host code threw, its threads did not start): the library
// agrees its own failures at every pass end, but the other processes know
// nothing of this one and would wait for it at their next merge, so it
// must end them all.
class LocalError : public HostError {
public:
    LocalError(Kind kind, const std::string& message) : HostError(kind, message) {}
};

}  // namespace mchost

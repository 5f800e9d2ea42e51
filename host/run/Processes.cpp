#include "host/run/Processes.h"

#include "host/base/HostError.h"

namespace mchost {

std::vector<std::vector<std::string>> Processes::GatherTexts(const std::vector<std::string>& mine) {
    return {mine};
}

void Processes::Sum(std::vector<double>&) {}

void Processes::InOrder(const std::function<bool(std::string&)>& next,
                        const std::function<void(const std::string&)>& write) {
    std::string piece;
    while (next(piece)) write(piece);
}

Processes::Failure Processes::FirstFailure(const Failure& mine) {
    return mine;
}

void Processes::Agreed(const std::function<void()>& step) {
    Failure mine;
    try {
        step();
    } catch (const FormulaError& e) {
        mine = {-1, e.what(), static_cast<long>(e.GetPos()), static_cast<long>(e.GetLen()), Rank()};
    } catch (const HostError& e) {
        mine = {static_cast<int>(e.GetKind()), e.what(), 0, 0, Rank()};
    }
    const Failure first = IsSplit() ? FirstFailure(mine) : mine;
    if (first.kind == 0) return;
    // Every process holds the same formula, so an error in it keeps its
    // span; but the names it resolves come from each part's header.
    std::string message = first.message;
    if (IsSplit() && first.kind != HostError::kInterrupted)
        message = "process " + std::to_string(first.rank) + ": " + message;
    if (first.kind == -1)
        throw FormulaError(message, static_cast<std::size_t>(first.pos),
                           static_cast<std::size_t>(first.len));
    throw HostError(static_cast<HostError::Kind>(first.kind), message);
}

std::string PartName(const std::string& pattern, const Processes& processes,
                     const std::string& option) {
    const std::string key = "{rank}";
    const std::size_t at = pattern.find(key);
    if (at == std::string::npos) {
        if (processes.IsSplit())
            throw HostError(HostError::kUsage,
                            "with " + std::to_string(processes.Size()) + " processes, " + option +
                                " must name each process's own file with {rank}, e.g. "
                                "part-{rank}.csv");
        return pattern;
    }
    std::string name = pattern;
    name.replace(at, key.size(), std::to_string(processes.Rank()));
    return name;
}

}  // namespace mchost

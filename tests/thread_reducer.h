#pragma once
// Processes of a split fit played by threads: each thread fits its part of
// the records with its own component, and the reducers meet at every merge
// the way MPI ranks would. A test utility only: the library creates no
// threads.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "companion/DoubleDouble.h"
#include "companion/PassReducer.h"

namespace splittest {

// Every member deposits its values; when all have, each gets all of them.
// All members make the same calls in the same order, as processes would.
class Meeting {
public:
    explicit Meeting(int n) : fN(n) {
        fDoubles.deposits.resize(static_cast<std::size_t>(n));
        fInts.deposits.resize(static_cast<std::size_t>(n));
    }
    std::vector<std::vector<double>> Exchange(int rank, const std::vector<double>& mine) {
        return Meet(fDoubles, rank, mine);
    }
    std::vector<std::vector<int>> Exchange(int rank, const std::vector<int>& mine) {
        return Meet(fInts, rank, mine);
    }

private:
    template <class T>
    struct Round {
        std::vector<std::vector<T>> deposits, result;
    };
    template <class T>
    std::vector<std::vector<T>> Meet(Round<T>& round, int rank, const std::vector<T>& mine) {
        std::unique_lock<std::mutex> lock(fMutex);
        round.deposits[static_cast<std::size_t>(rank)] = mine;
        const long generation = fGeneration;
        if (++fArrived == fN) {
            fArrived = 0;
            ++fGeneration;
            round.result = round.deposits;
            fCondition.notify_all();
        } else {
            fCondition.wait(lock, [&] { return fGeneration != generation; });
        }
        return round.result;
    }

    int fN;
    std::mutex fMutex;
    std::condition_variable fCondition;
    int fArrived = 0;
    long fGeneration = 0;
    Round<double> fDoubles;
    Round<int> fInts;
};

class ThreadReducer : public MCCommon_850::PassReducer {
public:
    ThreadReducer(Meeting& meeting, int rank) : fMeeting(meeting), fRank(rank) {}

    bool Sum(std::vector<double>& values) override {
        const auto all = fMeeting.Exchange(fRank, values);
        for (std::size_t i = 0; i < values.size(); ++i) {
            double s = 0.0;
            for (const auto& v : all) s += v[i];
            values[i] = s;
        }
        return true;
    }
    bool SumExtended(std::vector<double>& pairs) override {
        const auto all = fMeeting.Exchange(fRank, pairs);
        for (std::size_t i = 0; i + 1 < pairs.size(); i += 2) {
            MCMath_850::DoubleDouble::DD s{0.0, 0.0};
            for (const auto& v : all)
                s = MCMath_850::DoubleDouble::Add(s, MCMath_850::DoubleDouble::DD{v[i], v[i + 1]});
            pairs[i] = s.hi;
            pairs[i + 1] = s.lo;
        }
        return true;
    }
    bool Min(std::vector<double>& values) override {
        const auto all = fMeeting.Exchange(fRank, values);
        for (std::size_t i = 0; i < values.size(); ++i)
            for (const auto& v : all) values[i] = std::min(values[i], v[i]);
        return true;
    }
    bool Max(std::vector<double>& values) override {
        const auto all = fMeeting.Exchange(fRank, values);
        for (std::size_t i = 0; i < values.size(); ++i)
            for (const auto& v : all) values[i] = std::max(values[i], v[i]);
        return true;
    }
    bool Gather(const std::vector<int>& mine, std::vector<std::vector<int>>& all) override {
        all = fMeeting.Exchange(fRank, mine);
        return true;
    }

private:
    Meeting& fMeeting;
    int fRank;
};

// Runs body(rank, reducer) on n threads, one per part, and waits for all.
inline void RunSplit(int n, const std::function<void(int, MCCommon_850::PassReducer&)>& body) {
    Meeting meeting(n);
    std::vector<ThreadReducer> reducers;
    for (int r = 0; r < n; ++r) reducers.emplace_back(meeting, r);
    std::vector<std::thread> threads;
    for (int r = 0; r < n; ++r)
        threads.emplace_back([&, r] { body(r, reducers[static_cast<std::size_t>(r)]); });
    for (std::thread& t : threads) t.join();
}

// Each part fitted by a process of its own. settings holds one entry per
// part, each given that process's reducer; it must outlive the fits.
template <class Fit, class Settings, class Part, class FitFn>
std::vector<Fit> FitParts(std::vector<Settings>& settings, const std::vector<Part>& parts,
                          FitFn fit) {
    std::vector<Fit> fits(parts.size());
    RunSplit(static_cast<int>(parts.size()), [&](int rank, MCCommon_850::PassReducer& reducer) {
        const std::size_t r = static_cast<std::size_t>(rank);
        settings[r].SetPassReducer(&reducer);
        fits[r] = fit(settings[r], parts[r]);
    });
    return fits;
}

inline double RelDiff(double a, double b) {
    return std::fabs(a - b) / std::max(std::fabs(b), 1e-300);
}

// A split fit's estimates within tolerance of the whole fit's, relatively,
// and its covariances scaled by the whole fit's standard errors. Fit offers
// NParams(), Estimate(i) and Cov(i, j).
template <class Fit>
void ExpectSameEstimates(const Fit& split, const Fit& whole, double tolerance) {
    double worstB = 0, worstV = 0;
    for (int i = 0; i < whole.NParams(); ++i) {
        if (whole.Estimate(i) != 0)
            worstB = std::max(worstB, RelDiff(split.Estimate(i), whole.Estimate(i)));
        for (int j = 0; j <= i; ++j) {
            const double scale = std::sqrt(whole.Cov(i, i) * whole.Cov(j, j));
            if (scale > 0)
                worstV = std::max(worstV, std::fabs(split.Cov(i, j) - whole.Cov(i, j)) / scale);
        }
    }
    EXPECT_LT(worstB, tolerance);
    EXPECT_LT(worstV, tolerance);
}

}  // namespace splittest

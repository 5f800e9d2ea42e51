// Times a general linear model fit on synthetic records generated in
// process, pass by pass, and reports the peak resident memory before and
// after the fit (the difference is the fit's own memory).
//
//   fit_glm [records=1000000]
//
// Model: A + B + C + x1 + x2 + A*B + A*x1 with A, B, C of 5, 10 and 20
// categories, x1 ~ N(50, 10), x2 ~ U(0, 100): 93 parameters, 75 not aliased.
#include <mcreg/mcreg.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <vector>

using namespace MCMath_850;
using Clock = std::chrono::steady_clock;

namespace {

long PeakRssKb() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

// The records, generated once and held column by column; the iterator
// fills one reused record, as a host reading its own storage would.
struct Data {
    long n = 0;
    std::vector<double> values;  // n rows of y, A, B, C, x1, x2

    explicit Data(long count) : n(count), values(static_cast<std::size_t>(count) * 6) {
        std::mt19937_64 gen(20261205);
        std::normal_distribution<double> norm(50.0, 10.0), noise(0.0, 1.0);
        std::uniform_real_distribution<double> unif(0.0, 100.0);
        for (long i = 0; i < n; ++i) {
            double* r = &values[static_cast<std::size_t>(i) * 6];
            const int a = static_cast<int>(gen() % 5), b = static_cast<int>(gen() % 10),
                      c = static_cast<int>(gen() % 20);
            const double x1 = norm(gen), x2 = unif(gen);
            r[1] = a, r[2] = b, r[3] = c, r[4] = x1, r[5] = x2;
            r[0] = 10 + a - 0.5 * b + 0.1 * c + (0.2 + 0.05 * a) * x1 + 0.03 * x2 +
                   0.1 * ((a * b) % 7) + noise(gen);
        }
    }
};

class DataIter : public MCCommon_850::MultiPassRecordIter {
public:
    explicit DataIter(const Data& d) : fData(d), fRec(6) {}
    bool HasMore() const override { return fI < fData.n; }
    int GetFailReason() const override { return fI < fData.n ? 0 : 1; }
    int NewPass() override {
        const auto now = Clock::now();
        if (fPass >= 0)
            fvPassSeconds.push_back(std::chrono::duration<double>(now - fStart).count());
        fStart = now;
        ++fPass;
        fI = 0;
        return fData.n > 0 ? 0 : 1;
    }
    MCCommon_850::Record* Next() override {
        if (fI >= fData.n) return nullptr;
        const double* r = &fData.values[static_cast<std::size_t>(fI++) * 6];
        double* out = fRec.GetAll();
        for (int k = 0; k < 6; ++k) out[k] = r[k];
        return &fRec;
    }
    void Finish() {
        fvPassSeconds.push_back(std::chrono::duration<double>(Clock::now() - fStart).count());
    }
    std::vector<double> fvPassSeconds;

private:
    const Data& fData;
    long fI = 0;
    int fPass = -1;
    MCCommon_850::Record fRec;
    Clock::time_point fStart;
};

}  // namespace

int main(int argc, char** argv) {
    const long n = argc > 1 ? std::atol(argv[1]) : 1000000;
    MCRegSettings s;
    s.SetDependent(0);
    s.AddFactor(1, 5);
    s.AddFactor(2, 10);
    s.AddFactor(3, 20);
    s.AddCovariate(4);
    s.AddCovariate(5);
    std::vector<int> vars = {1, 2, 3, 4, 5};
    auto term = [&](std::vector<int> factors, std::vector<int> covs) {
        MCModelEffect e(3, 2, &vars);
        for (int f : factors) e.AddNewFactor(f, false);
        for (int c : covs) e.AddCovariate(c);
        s.AddModelEffect(e);
    };
    term({1}, {});
    term({2}, {});
    term({3}, {});
    term({}, {4});
    term({}, {5});
    term({1, 2}, {});
    term({1}, {4});

    const Data data(n);
    const long rssBefore = PeakRssKb();
    MCRegFactory factory;
    std::unique_ptr<IMCRegComponent> c(factory.CreateRegAlgorithm(s));
    DataIter iter(data);
    const auto t0 = Clock::now();
    const MCCommon_850::MCStatus st = c->BuildModel(iter);
    iter.Finish();
    const double fit = std::chrono::duration<double>(Clock::now() - t0).count();
    IMCRegOutputStats* stats = nullptr;
    if (!st.IsOK() || !c->GetOutputStats(stats).IsOK()) {
        std::fprintf(stderr, "fit failed: %s\n", st.GetMessage().c_str());
        return 3;
    }
    int rank = stats->GetRedundancyIndicators().Count();
    std::printf("records %ld  parameters %zu  non-aliased %d  R2 %.6f\n", n,
                stats->GetParamEstimates().size(), rank,
                stats->GetModelFitStat(MCConst::MCModelFitStat(1)));
    std::printf("fit seconds %.3f  (pass 1 %.3f, pass 2 + sweep %.3f, pass 3 %.3f)\n", fit,
                iter.fvPassSeconds.size() > 0 ? iter.fvPassSeconds[0] : 0.0,
                iter.fvPassSeconds.size() > 1 ? iter.fvPassSeconds[1] : 0.0,
                iter.fvPassSeconds.size() > 2 ? iter.fvPassSeconds[2] : 0.0);
    std::printf("peak RSS KB: data loaded %ld, after fit %ld\n", rssBefore, PeakRssKb());
    return 0;
}

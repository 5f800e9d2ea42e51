// Times general linear model fits with factors of thousands of levels on
// synthetic records generated in process, and reports pass 1, pass 2, the
// sweep and pass 3 apart, with the peak resident memory.
//
//   fit_glm_factors a|b|c [records=1000000] [--csv FILE]
//
//   a  y ~ G + x1 + x2, G of 5,000 levels           (5,003 parameters)
//   b  y ~ G + H + x1, G of 2,000 and H of 50 levels (2,052 parameters)
//   c  y ~ G + H + G*H, G of 100 and H of 50 levels  (5,151 parameters, every
//      cell observed: record i falls in cell i mod 5,000)
//
// With --csv the records are also written (columns y,G,H,x1,x2) for other
// programs to fit.
#include <mcreg/mcreg.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

using namespace MCMath_850;
using Clock = std::chrono::steady_clock;

namespace {

enum { kY = 0, kG = 1, kH = 2, kX1 = 3, kX2 = 4, kColumns = 5 };

long PeakRssKb() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

struct Case {
    char name;
    int gLevels;
    int hLevels;  // 0: no H
};

struct Data {
    long n = 0;
    std::vector<double> values;  // n rows of y, G, H, x1, x2

    Data(const Case& c, long count) : n(count), values(static_cast<std::size_t>(count) * kColumns) {
        std::mt19937_64 gen(20240613);
        std::normal_distribution<double> norm(0.0, 1.0);
        std::uniform_real_distribution<double> unif(0.0, 10.0);
        const int cells = c.gLevels * (c.hLevels > 0 ? c.hLevels : 1);
        for (long i = 0; i < n; ++i) {
            double* r = &values[static_cast<std::size_t>(i) * kColumns];
            int g, h = 0;
            if (c.name == 'c') {
                const int cell = static_cast<int>(i % cells);
                g = cell / c.hLevels;
                h = cell % c.hLevels;
            } else {
                g = static_cast<int>(gen() % static_cast<unsigned>(c.gLevels));
                if (c.hLevels > 0) h = static_cast<int>(gen() % static_cast<unsigned>(c.hLevels));
            }
            // Six decimals, so that a CSV carries exactly these values.
            const double x1 = std::round(norm(gen) * 1e6) / 1e6;
            const double x2 = std::round(unif(gen) * 1e6) / 1e6;
            const double effect = 0.001 * ((g * 37) % 101) + 0.02 * (h % 7) + 0.001 * ((g + h) % 5);
            r[kY] = std::round((5.0 + effect + 0.5 * x1 - 0.2 * x2 + norm(gen)) * 1e6) / 1e6;
            r[kG] = g, r[kH] = h, r[kX1] = x1, r[kX2] = x2;
        }
    }
};

// Hands out the records one by one into a reused record and notes when each
// pass starts and when it hands out its last record: what lies between the
// end of pass 2 and the start of pass 3 is the sweep.
class DataIter : public MCCommon_850::MultiPassRecordIter {
public:
    explicit DataIter(const Data& d) : fData(d), fRec(kColumns) {}
    bool HasMore() const override { return fI < fData.n; }
    int GetFailReason() const override { return fI < fData.n ? 0 : 1; }
    int NewPass() override {
        fvStart.push_back(Clock::now());
        fvEnd.push_back(fvStart.back());
        fI = 0;
        return fData.n > 0 ? 0 : 1;
    }
    MCCommon_850::Record* Next() override {
        if (fI >= fData.n) return nullptr;
        const double* r = &fData.values[static_cast<std::size_t>(fI++) * kColumns];
        std::memcpy(fRec.GetAll(), r, sizeof(double) * kColumns);
        if (fI == fData.n) fvEnd.back() = Clock::now();
        return &fRec;
    }
    std::vector<Clock::time_point> fvStart, fvEnd;

private:
    const Data& fData;
    long fI = 0;
    MCCommon_850::Record fRec;
};

double Seconds(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

void WriteCsv(const Data& d, const char* path) {
    FILE* f = std::fopen(path, "w");
    if (f == nullptr) {
        std::perror(path);
        std::exit(2);
    }
    std::fprintf(f, "y,G,H,x1,x2\n");
    for (long i = 0; i < d.n; ++i) {
        const double* r = &d.values[static_cast<std::size_t>(i) * kColumns];
        std::fprintf(f, "%.6f,g%d,h%d,%.6f,%.6f\n", r[kY], static_cast<int>(r[kG]),
                     static_cast<int>(r[kH]), r[kX1], r[kX2]);
    }
    std::fclose(f);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || std::strlen(argv[1]) != 1 || argv[1][0] < 'a' || argv[1][0] > 'c') {
        std::fprintf(stderr, "usage: fit_glm_factors a|b|c [records] [--csv FILE]\n");
        return 2;
    }
    const Case cases[] = {{'a', 5000, 0}, {'b', 2000, 50}, {'c', 100, 50}};
    const Case& c = cases[argv[1][0] - 'a'];
    long n = 1000000;
    const char* csv = nullptr;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--csv") == 0 && i + 1 < argc)
            csv = argv[++i];
        else
            n = std::atol(argv[i]);
    }

    MCRegSettings s;
    s.SetDependent(kY);
    s.AddFactor(kG, c.gLevels);
    if (c.hLevels > 0) s.AddFactor(kH, c.hLevels);
    s.AddCovariate(kX1);
    s.AddCovariate(kX2);
    std::vector<int> vars = {kG, kH, kX1, kX2};
    auto term = [&](std::vector<int> factors, std::vector<int> covs) {
        MCModelEffect e(2, 2, &vars);
        for (int f : factors) e.AddNewFactor(f, false);
        for (int v : covs) e.AddCovariate(v);
        s.AddModelEffect(e);
    };
    term({kG}, {});
    if (c.name == 'a') {
        term({}, {kX1});
        term({}, {kX2});
    } else if (c.name == 'b') {
        term({kH}, {});
        term({}, {kX1});
    } else {
        term({kH}, {});
        term({kG, kH}, {});
    }

    const Data data(c, n);
    if (csv != nullptr) WriteCsv(data, csv);
    const long rssBefore = PeakRssKb();
    MCRegFactory factory;
    std::unique_ptr<IMCRegComponent> component(factory.CreateRegAlgorithm(s));
    DataIter iter(data);
    const auto t0 = Clock::now();
    const MCCommon_850::MCStatus st = component->BuildModel(iter);
    const auto t1 = Clock::now();
    IMCRegOutputStats* stats = nullptr;
    if (!st.IsOK() || !component->GetOutputStats(stats).IsOK()) {
        std::fprintf(stderr, "fit failed: %s\n", st.GetMessage().c_str());
        return 3;
    }
    if (iter.fvStart.size() < 3) {
        std::fprintf(stderr, "expected three passes, saw %zu\n", iter.fvStart.size());
        return 3;
    }
    const int rank = stats->GetRedundancyIndicators().Count();
    std::printf("case %c  records %ld  parameters %zu  non-aliased %d  R2 %.9f\n", c.name, n,
                stats->GetParamEstimates().size(), rank,
                stats->GetModelFitStat(MCConst::FIT_RSQUARE));
    std::printf("fit seconds %.3f  (pass 1 %.3f, pass 2 %.3f, sweep %.3f, pass 3 %.3f)\n",
                Seconds(t0, t1), Seconds(iter.fvStart[0], iter.fvEnd[0]),
                Seconds(iter.fvStart[1], iter.fvEnd[1]), Seconds(iter.fvEnd[1], iter.fvStart[2]),
                Seconds(iter.fvStart[2], t1));
    std::printf("peak RSS KB: data loaded %ld, after fit %ld\n", rssBefore, PeakRssKb());
    return 0;
}

// Times a multinomial logistic fit on synthetic records generated in
// process and reports iterations, seconds per pass and the peak resident
// memory before and after the fit (the difference is the fit's own memory).
//
//   fit_logistic [records=500000] [records|patterns] [--csv FILE]
//
// Data: A with 5 and B with 10 categories, x1 ~ N(0, 1), x2 ~ U(0, 1), and
// a 4-category response drawn from a multinomial logit in them. Model
// A + B + x1 + x2: 16 coefficients per logit, 48 in all. With --csv the
// records are also written (columns y,A,B,x1,x2) for other programs to fit.
#include <mcreg/mcreg.h>
#include <sys/resource.h>

#include <chrono>
#include <cmath>
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

const int kColumns = 5;

long PeakRssKb() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

struct Data {
    long n = 0;
    std::vector<double> values;  // n rows of y, A, B, x1, x2

    explicit Data(long count) : n(count), values(static_cast<std::size_t>(count) * kColumns) {
        std::mt19937_64 gen(20261205);
        std::normal_distribution<double> norm(0.0, 1.0);
        std::uniform_real_distribution<double> unif(0.0, 1.0);
        for (long i = 0; i < n; ++i) {
            double* r = &values[static_cast<std::size_t>(i) * kColumns];
            const int a = static_cast<int>(gen() % 5), b = static_cast<int>(gen() % 10);
            // Six significant digits, so that a CSV carries exactly these values.
            const double x1 = std::stod(std::to_string(norm(gen)).substr(0, 9));
            const double x2 = std::round(unif(gen) * 1e6) / 1e6;
            const double eta[3] = {0.5 + 0.3 * a - 0.1 * b + 0.8 * x1 - 0.5 * x2,
                                   -0.2 - 0.2 * a + 0.15 * b - 0.4 * x1 + 1.0 * x2,
                                   0.1 + 0.1 * (a % 2) - 0.05 * b + 0.3 * x1 + 0.2 * x2};
            double p[4] = {std::exp(eta[0]), std::exp(eta[1]), std::exp(eta[2]), 1.0};
            const double sum = p[0] + p[1] + p[2] + p[3];
            double u = unif(gen) * sum;
            int y = 0;
            while (y < 3 && u >= p[y]) u -= p[y++];
            r[0] = y, r[1] = a, r[2] = b, r[3] = x1, r[4] = x2;
        }
    }
};

class DataIter : public MCCommon_850::MultiPassRecordIter {
public:
    explicit DataIter(const Data& d) : fData(d), fRec(kColumns) {}
    bool HasMore() const override { return fI < fData.n; }
    int GetFailReason() const override { return fI < fData.n ? 0 : 1; }
    int NewPass() override {
        if (fI > 0) fvPassEnds.push_back(Clock::now());
        ++fPasses;
        fI = 0;
        return fData.n > 0 ? 0 : 1;
    }
    MCCommon_850::Record* Next() override {
        if (fI >= fData.n) return nullptr;
        const double* r = &fData.values[static_cast<std::size_t>(fI++) * kColumns];
        std::memcpy(fRec.GetAll(), r, sizeof(double) * kColumns);
        return &fRec;
    }
    int fPasses = 0;
    // When each pass that read records ended.
    std::vector<Clock::time_point> fvPassEnds;

private:
    const Data& fData;
    long fI = 0;
    MCCommon_850::Record fRec;
};

struct Iterations : MCCommon_850::ProgressListener {
    Clock::time_point start = Clock::now();
    void ReportIteration(const MCIterationReporter& r) override {
        std::printf("  iteration %2d  halvings %d  log-likelihood %.10f  at %.3f s\n",
                    r.GetIteration(), r.GetHalvings(), r.GetLogLikelihood(),
                    std::chrono::duration<double>(Clock::now() - start).count());
    }
};

}  // namespace

int main(int argc, char** argv) {
    long n = 500000;
    bool patterns = false;
    std::string csv;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "patterns") == 0)
            patterns = true;
        else if (std::strcmp(argv[i], "records") == 0)
            patterns = false;
        else if (std::strcmp(argv[i], "--csv") == 0 && i + 1 < argc)
            csv = argv[++i];
        else
            n = std::atol(argv[i]);
    }
    const Data data(n);
    if (!csv.empty()) {
        FILE* f = std::fopen(csv.c_str(), "w");
        if (f == nullptr) return 2;
        std::fprintf(f, "y,A,B,x1,x2\n");
        for (long i = 0; i < n; ++i) {
            const double* r = &data.values[static_cast<std::size_t>(i) * kColumns];
            std::fprintf(f, "%d,%d,%d,%.17g,%.17g\n", static_cast<int>(r[0]),
                         static_cast<int>(r[1]), static_cast<int>(r[2]), r[3], r[4]);
        }
        std::fclose(f);
    }

    MCLogRegSettings s;
    s.SetDependent(0);
    s.SetDependentRefCat(-1, 4);
    s.AddFactor(1, 5);
    s.AddFactor(2, 10);
    s.AddCovariate(3);
    s.AddCovariate(4);
    s.SetUsePatternTabulator(patterns);
    std::vector<int> vars = {1, 2, 3, 4};
    for (int v : vars) {
        MCModelEffect e(2, 2, &vars);
        if (v <= 2)
            e.AddNewFactor(v, false);
        else
            e.AddCovariate(v);
        s.AddModelEffect(e);
    }
    Iterations listener;
    s.SetProgressListener(&listener);

    const long rssBefore = PeakRssKb();
    MCRegFactory factory;
    std::unique_ptr<IMCRegComponent> c(factory.CreateRegAlgorithm(s));
    DataIter iter(data);
    listener.start = Clock::now();
    const MCCommon_850::MCStatus st = c->BuildModel(iter);
    const double fit = std::chrono::duration<double>(Clock::now() - listener.start).count();
    IMCRegOutputStats* stats = nullptr;
    if (st.IsError() || !c->GetOutputStats(stats).IsOK()) {
        std::fprintf(stderr, "fit failed: %s\n", st.GetMessage().c_str());
        return 3;
    }
    const auto& log = static_cast<const MCLogOutputStats&>(*stats);
    std::printf("records %ld  handler %s  coefficients %d (%zu with redundant)\n", n,
                patterns ? "patterns" : "records", stats->GetRedundancyIndicators().Count(),
                stats->GetParamEstimates().size());
    std::printf("iterations %d  convergence code %d  log-likelihood %.10f (start %.10f)\n",
                log.GetIterations(), log.GetConvergenceCode(), log.GetFinalLogLikelihood(),
                log.GetInitialLogLikelihood());
    std::printf("fit seconds %.3f  passes over the host's records %zu, ended at", fit,
                iter.fvPassEnds.size());
    for (const auto& t : iter.fvPassEnds)
        std::printf(" %.3f", std::chrono::duration<double>(t - listener.start).count());
    std::printf(" s\n");
    std::printf("peak RSS KB: data loaded %ld, after fit %ld\n", rssBefore, PeakRssKb());
    return 0;
}

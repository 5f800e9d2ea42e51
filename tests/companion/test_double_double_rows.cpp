// The sweep's row kernels against their definition, element by element in
// scalar double-double: every kernel (portable, fused multiply-add, AVX2)
// must give the same bits, high and low parts, at every length (the vector
// tails included), with zeros of either sign and values whose high part
// alone is 0 among the factors.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "companion/DoubleDouble.h"
#include "companion/DoubleDoubleRows.h"

namespace dd = MCMath_850::DoubleDouble;
using dd::DD;
using dd::RowKernel;

namespace {

// A double-double of varied magnitude and sign; one in four of them 0,
// -0 or a bare low part, which the kernels must tell apart.
DD Random(std::mt19937_64& gen) {
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    std::uniform_int_distribution<int> exponent(-30, 30);
    switch (gen() % 16) {
        case 0:
            return DD{0.0, 0.0};
        case 1:
            return DD{-0.0, 0.0};
        case 2:
            return DD{0.0, 0x1p-80 * unit(gen)};
        case 3:
            return DD{-0.0, -0.0};
        default: {
            const double hi = std::ldexp(unit(gen), exponent(gen));
            return DD{hi, hi * 0x1p-54 * unit(gen)};
        }
    }
}

std::vector<DD> Randoms(std::mt19937_64& gen, std::size_t n) {
    std::vector<DD> v(n);
    for (DD& x : v) x = Random(gen);
    return v;
}

bool Zero(const DD& v) {
    return v.hi == 0.0 && v.lo == 0.0;
}

void ExpectBits(const std::vector<DD>& got, const std::vector<DD>& want, const std::string& what) {
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < got.size(); ++i)
        EXPECT_EQ(std::memcmp(&got[i], &want[i], sizeof(DD)), 0)
            << what << " element " << i << ": " << got[i].hi << " + " << got[i].lo << " vs "
            << want[i].hi << " + " << want[i].lo;
}

const RowKernel kKernels[] = {RowKernel::kPortable, RowKernel::kFma, RowKernel::kAvx2,
                              RowKernel::kBest};

}  // namespace

TEST(DoubleDoubleRows, EveryKernelGivesTheDefinitionsBits) {
    std::mt19937_64 gen(20261206);
    for (int round = 0; round < 40; ++round) {
        for (std::size_t len = 0; len <= 13; ++len) {
            const std::vector<DD> x = Randoms(gen, len), v = Randoms(gen, len);
            DD a = Random(gen);
            if (Zero(a)) a = DD{1.5, 0x1p-60};
            const std::string at =
                "round " + std::to_string(round) + ", length " + std::to_string(len) + ", kernel ";

            std::vector<DD> scaled = x, scaledBy = x, scaledByAll = x;
            for (std::size_t i = 0; i < len; ++i) {
                if (!Zero(v[i])) {
                    scaled[i] = dd::Sub(x[i], dd::Mul(a, v[i]));
                    scaledBy[i] = dd::Sub(x[i], dd::Mul(v[i], a));
                }
                scaledByAll[i] = dd::Sub(x[i], dd::Mul(v[i], a));
            }

            for (RowKernel kernel : kKernels) {
                const std::string what = at + std::to_string(static_cast<int>(kernel));
                std::vector<DD> got = x;
                dd::SubScaled(got.data(), a, v.data(), len, kernel);
                ExpectBits(got, scaled, what + " SubScaled");

                std::vector<double> hi(len), lo(len);
                for (std::size_t i = 0; i < len; ++i) {
                    hi[i] = x[i].hi;
                    lo[i] = x[i].lo;
                }
                dd::SubScaled(hi.data(), lo.data(), a, v.data(), len, kernel);
                for (std::size_t i = 0; i < len; ++i) got[i] = DD{hi[i], lo[i]};
                ExpectBits(got, scaled, what + " SubScaled, parts apart");

                got = x;
                dd::SubScaledBy(got.data(), v.data(), a, len, true, kernel);
                ExpectBits(got, scaledBy, what + " SubScaledBy, zeros skipped");

                got = x;
                dd::SubScaledBy(got.data(), v.data(), a, len, false, kernel);
                ExpectBits(got, scaledByAll, what + " SubScaledBy, every element");
            }
        }
    }
}

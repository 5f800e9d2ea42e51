#include "design/MCProductTerms.h"

#include <algorithm>
#include <cmath>

#include "companion/MCIndex.h"
#include "design/MCColumnKeys.h"

namespace MCMath_850 {

namespace {

using Pairs = MCColumnKeys::Pairs;
using Key = MCColumnKeys::Key;

double Binomial(int m, int j) {
    double c = 1.0;
    for (int i = 1; i <= j; ++i) c = c * (m - j + i) / i;
    return c;
}

}  // namespace

void MCProductTerms::SetUp(const std::vector<MCRegrParameter>& params) {
    const MCColumnKeys columns(params);
    fvProducts.assign(params.size(), Product{});
    for (std::size_t k = 0; k < params.size(); ++k) {
        if (params[k].GetNCovariateMult() < 2) continue;
        const Key key = MCColumnKeys::KeyOf(params[k]);
        const Pairs& full = key.covariates;
        Product product;
        product.complete = true;
        // The sub-products' powers, counted like an odometer from all zero
        // (the unit) up to one short of the product itself.
        std::vector<int> powers(full.size(), 0);
        for (;;) {
            Key sub{key.cell, {}, key.target};
            Part part{-1, 1.0, std::vector<int>(full.size(), 0)};
            bool whole = true;
            for (std::size_t i = 0; i < full.size(); ++i) {
                if (powers[i] > 0) sub.covariates.emplace_back(full[i].first, powers[i]);
                part.binomial *= Binomial(full[i].second, powers[i]);
                part.powers[i] = full[i].second - powers[i];
                whole = whole && powers[i] == full[i].second;
            }
            if (whole) break;
            if (!sub.covariates.empty()) {
                part.column = columns.Find(sub);
                if (part.column < 0) {
                    product.complete = false;
                    break;
                }
            }
            product.parts.push_back(std::move(part));
            std::size_t i = 0;
            while (i < full.size() && powers[i] == full[i].second) powers[i++] = 0;
            ++powers[i];
        }
        if (!product.complete) continue;
        for (const auto& [var, power] : full) {
            product.bases.push_back(columns.Find(Key{key.cell, {{var, 1}}, key.target}));
            product.basePowers.push_back(power);
        }
        fvProducts[k] = std::move(product);
    }
}

std::vector<int> MCProductTerms::SubProducts(std::size_t k) const {
    std::vector<int> subs;
    if (!IsComplete(k)) return subs;
    const Product& product = fvProducts[k];
    for (const Part& part : product.parts)
        if (part.column >= 0 && std::find(product.bases.begin(), product.bases.end(),
                                          part.column) == product.bases.end())
            subs.push_back(part.column);
    return subs;
}

std::vector<MCProductTerms::Term> MCProductTerms::Expansion(
    std::size_t k, const std::vector<double>& centre) const {
    std::vector<Term> terms;
    if (!IsComplete(k)) return terms;
    const Product& product = fvProducts[k];
    for (const Part& part : product.parts) {
        double coef = part.binomial;
        for (std::size_t i = 0; i < part.powers.size(); ++i)
            coef *= std::pow(centre[Ix(product.bases[i])], part.powers[i]);
        if (coef != 0.0) terms.emplace_back(part.column, coef);
    }
    return terms;
}

}  // namespace MCMath_850

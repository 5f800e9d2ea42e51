#pragma once
#include <cstddef>
#include <utility>
#include <vector>

namespace mchost {

// The column of a parameter the fit left aliased, as a combination of the
// kept parameters' columns, which it equals over the fit's data.
class AliasedColumn {
public:
    std::size_t fParameter = 0;
    std::vector<std::pair<std::size_t, double>> fvKept;
};

// Which linear functions c'b of a model's parameters the fit's data
// determine: those whose weight on each aliased parameter is what their
// weights on the kept ones give that column. A new record is such a
// function (its design row), and one that fails (a category combination
// or covariate value the data never tied to its aliased parameter) would
// be scored by whatever the choice of kept parameters made of it.
class AliasingCheck {
public:
    // Sparse: non-zero coefficients by parameter index.
    using Sparse = std::vector<std::pair<int, double>>;

    // Without the columns, every function counts as determined.
    AliasingCheck() = default;
    AliasingCheck(std::size_t nParameters, const std::vector<AliasedColumn>& aliased);

    bool Known() const { return fbKnown; }
    bool Determined(const Sparse& c) const;

private:
    bool fbKnown = false;
    // Per parameter: the relations of the aliased parameters it enters, with
    // its coefficient; and the relation of an aliased parameter itself.
    std::vector<std::vector<std::pair<std::size_t, double>>> fvByParam;
    std::vector<int> fvRelationOf;
    // Per relation, while a row is checked.
    mutable std::vector<double> fvOwn, fvImplied, fvSize;
    mutable std::vector<std::size_t> fvTouched;
};

}  // namespace mchost

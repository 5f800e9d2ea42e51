# Helpers shared by the reference scripts (run them from the repository root).

g17 <- function(v) paste(sprintf("%.17g", v), collapse = " ")
out <- function(key, v) cat(key, length(v), g17(v), "\n")
# Rounded values go through their text form so that R fits exactly the
# doubles the tests read back.
short <- function(v) as.numeric(sprintf("%.6g", v))

# The library's over-parametrised design for terms given as lists of
# factor names (fac) and covariate names (cov): an intercept column, then per
# term one column per observed cell (cells in ascending code order, the
# term's first factor slowest), each multiplied by the term's covariates.
design <- function(d, terms) {
  X <- matrix(1, nrow(d), 1)
  for (t in terms) {
    cov <- if (length(t$cov)) Reduce(`*`, lapply(t$cov, function(c) d[[c]])) else rep(1, nrow(d))
    if (!length(t$fac)) {
      X <- cbind(X, cov)
      next
    }
    key <- as.matrix(d[, t$fac, drop = FALSE])
    cells <- unique(key)
    cells <- cells[do.call(order, as.data.frame(cells)), , drop = FALSE]
    for (i in seq_len(nrow(cells))) {
      hit <- apply(key, 1, function(r) all(r == cells[i, ]))
      X <- cbind(X, as.numeric(hit) * cov)
    }
  }
  unname(X)
}


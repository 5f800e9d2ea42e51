# Golden general-linear-model fits from R's lm, in the library's
# over-parametrised coding: an intercept column, then per term one column per
# observed cell (cells in ascending code order, the term's first factor
# slowest; for a nested term the enclosing factor first), each cell column
# multiplied by the term's covariates. Aliased columns are those lm reports as
# NA: lm keeps the column order and moves a column to the end only when it is
# (within 1e-7) a combination of the columns before it, which is checked here
# against a sequential rank test.
#
# Frequency weights are honoured by replicating rows, so the residual degrees
# of freedom are W - rank as in the library; regression weights are lm's
# weights. The root mean square error is sqrt(sum(fw rw e^2) / W) and R-square
# is taken about the weighted mean.
#
# Output, one block per case (whitespace separated, numbers with 17 digits;
# tests/golden.h reads it: every entry is "key n values"):
#   case <name>
#   data <rows> <cols>    followed by the records (exact in 15 digits)
#   estimate <p> <values>   aliased <p> <0/1>   covariance <p*p> <row-wise>
#   rsquare 1 <v>  rmse 1 <v>  errorms 1 <v>
#   tvalue <p>  pvalue <p>  lower <p>  upper <p>   summary(lm)'s t and
#     Pr(>|t|) and confint's 95% limits; NaN for an aliased parameter
#   end
# Run from the repository root:
#   Rscript tools/reference/glm_golden.R > tests/golden/glm_golden.txt

source("tools/reference/common.R")

# Columns that add nothing to the span of the columns before them.
sequential_aliased <- function(X) {
  kept <- integer(0)
  out <- logical(ncol(X))
  for (j in seq_len(ncol(X))) {
    r <- qr(X[, c(kept, j), drop = FALSE], tol = 1e-9)$rank
    if (r > length(kept)) kept <- c(kept, j) else out[j] <- TRUE
  }
  out
}

golden <- function(name, d, terms, fw = NULL, rw = NULL) {
  n <- nrow(d)
  f <- if (is.null(fw)) rep(1, n) else d[[fw]]
  w <- if (is.null(rw)) rep(1, n) else d[[rw]]
  X <- design(d, terms)
  rep_rows <- rep(seq_len(n), times = f)
  Xe <- X[rep_rows, , drop = FALSE]
  ye <- d$y[rep_rows]
  we <- w[rep_rows]
  fit <- lm(ye ~ 0 + Xe, weights = we)
  b <- coef(fit)
  aliased <- is.na(b)
  stopifnot(identical(unname(aliased), sequential_aliased(X)))
  p <- ncol(X)
  V <- matrix(0, p, p)
  V[!aliased, !aliased] <- vcov(fit)[!aliased, !aliased]
  b[aliased] <- 0
  e <- d$y - X %*% b
  W <- sum(f)
  ybar <- sum(f * w * d$y) / sum(f * w)
  rss <- sum(f * w * e^2)
  r2 <- 1 - rss / sum(f * w * (d$y - ybar)^2)
  # lm's own R-square, fitted with its intercept, over the same column space.
  r2_lm <- summary(lm(ye ~ Xe[, -1], weights = we))$r.squared
  stopifnot(abs(r2 - r2_lm) < 1e-12)
  stopifnot(abs(sigma(fit)^2 - rss / (W - sum(!aliased))) < 1e-12 * sigma(fit)^2)

  cat("case", name, "\n")
  cat("data", n, ncol(d), "\n")
  for (i in seq_len(n)) cat(sprintf("%.15g", unlist(d[i, ])), "\n")
  out("estimate", b)
  out("aliased", as.integer(aliased))
  out("covariance", t(V))
  out("rsquare", r2)
  out("rmse", sqrt(rss / W))
  out("errorms", sigma(fit)^2)
  coefs <- matrix(NaN, p, 4)
  coefs[!aliased, ] <- summary(fit)$coefficients
  limits <- matrix(NaN, p, 2)
  limits[!aliased, ] <- confint(fit)[!aliased, ]
  out("tvalue", coefs[, 3])
  out("pvalue", coefs[, 4])
  out("lower", limits[, 1])
  out("upper", limits[, 2])
  cat("end\n")
}

set.seed(20240611)

# A (3) x B (3), unbalanced, cell A=2,B=1 empty.
cells <- expand.grid(B = 0:2, A = 0:2)[, c("A", "B")]
cells <- cells[!(cells$A == 2 & cells$B == 1), ]
reps <- c(3, 2, 4, 1, 3, 5, 2, 4)
tw <- cells[rep(seq_len(nrow(cells)), reps), ]
tw <- data.frame(y = short(10 + 2 * tw$A - 1.5 * tw$B + 0.7 * tw$A * tw$B + rnorm(nrow(tw))),
                 A = tw$A, B = tw$B)
golden("twoway", tw, list(list(fac = "A"), list(fac = "B"), list(fac = c("A", "B"))))

# A (3) + x + A*x: regression weights in one fit, frequency weights in another.
n <- 30
A <- rep(0:2, length.out = n)[sample(n)]
x <- short(runif(n, -2, 5))
y <- short(3 + c(0, 1.2, -0.8)[A + 1] + c(0.5, 1.1, -0.3)[A + 1] * x + rnorm(n, sd = 0.8))
ax_terms <- list(list(fac = "A"), list(cov = "x"), list(fac = "A", cov = "x"))
golden("ancova_rw", data.frame(y = y, A = A, x = x, rw = short(runif(n, 0.3, 2.5))), ax_terms, rw = "rw")
golden("ancova_fw", data.frame(y = y, A = A, x = x, fw = sample(1:4, n, replace = TRUE)), ax_terms, fw = "fw")

# B (3) + A(B), A with 3 codes: B=0 sees A 0..2, B=1 sees A 1 and 2, B=2 sees
# A 0 and 2. Both weights.
nb <- data.frame(B = c(rep(0, 10), rep(1, 9), rep(2, 9)))
nb$A <- c(rep(0:2, length.out = 10), rep(1:2, length.out = 9), rep(c(0, 2), length.out = 9))
nb <- data.frame(y = short(5 + nb$B - 2 * (nb$A == 1) + 0.5 * nb$A * nb$B + rnorm(nrow(nb))),
                 A = nb$A, B = nb$B, fw = sample(1:3, nrow(nb), replace = TRUE),
                 rw = short(runif(nrow(nb), 0.5, 2)))
golden("nested", nb, list(list(fac = "B"), list(fac = c("B", "A"))), fw = "fw", rw = "rw")

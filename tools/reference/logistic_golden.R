# Golden multinomial logistic fits for the library's over-parametrised
# coding: an intercept column, then per term one column per observed cell
# (cells in ascending code order), each multiplied by the term's covariates.
# Aliased columns (those that add nothing to the span of the columns before
# them) are dropped for the fit and reported as 0 with zero covariance.
#
# The fits start from nnet::multinom (or glm(binomial) for two categories)
# and are refined with Newton steps on the exact multinomial log-likelihood
# until the step is below 1e-15 relative, so the values are the maximum
# likelihood estimates to the precision of the data, not to the tolerance of
# the optimizer that found them.
#
# Categories are ordered as the library orders them: the non-reference codes
# ascending, then the reference. Logit k compares category k with the
# reference; the parameter vector is the basic vector repeated per logit.
#
# Output, one block per case (whitespace separated, 17 digits; tests/golden.h
# reads it: every entry is "key n values"):
#   case <name>
#   data <rows> <cols>  then the records (columns: y A B x1 x2 w)
#   categories <J> <codes in model order>
#   estimate <p> ...  aliased <p> <0/1>  covariance <p*p> <row-wise>
#   loglik 2 <initial> <final>
#   rsquare 3 <Cox-Snell> <Nagelkerke> <McFadden>
#   wald_<test> 2 <df> <chi-square>   (zero or more: b'L'(L V L')^-1 L b)
#   end
# Run from the repository root:
#   Rscript tools/reference/logistic_golden.R > tests/golden/logistic_golden.txt

suppressMessages(library(nnet))

g17 <- function(v) paste(sprintf("%.17g", v), collapse = " ")
out <- function(key, v) cat(key, length(v), g17(v), "\n")
short <- function(v) as.numeric(sprintf("%.6g", v))

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

kept_columns <- function(X, w) {
  keep <- c()
  for (j in seq_len(ncol(X))) {
    cand <- c(keep, j)
    Xw <- X[, cand, drop = FALSE] * sqrt(w)
    if (qr(Xw, tol = 1e-9)$rank == length(cand)) keep <- cand
  }
  keep
}

# Log-likelihood, score and information of the multinomial logit with the
# last column of the indicator matrix Y as reference.
mlogit_parts <- function(beta, X, Y, w) {
  q <- ncol(X)
  L <- ncol(Y) - 1
  B <- matrix(beta, q, L)
  eta <- cbind(X %*% B, 0)
  m <- apply(eta, 1, max)
  lse <- m + log(rowSums(exp(eta - m)))
  P <- exp(eta - lse)
  ll <- sum(w * rowSums(Y * (eta - lse)))
  score <- as.vector(t(X) %*% (w * (Y[, 1:L, drop = FALSE] - P[, 1:L, drop = FALSE])))
  info <- matrix(0, q * L, q * L)
  for (j in 1:L) for (l in 1:L) {
    c <- w * (if (j == l) P[, j] * (1 - P[, j]) else -P[, j] * P[, l])
    info[(j - 1) * q + 1:q, (l - 1) * q + 1:q] <- t(X) %*% (X * c)
  }
  list(ll = ll, score = score, info = info)
}

# Wald chi-square b'L'(L V L')^-1 L b of the rows of L (over all
# parameters), reduced to full row rank, and its degrees of freedom.
wald <- function(L, b, V) {
  L <- L[, , drop = FALSE]
  q <- qr(t(L), tol = 1e-10)
  L <- L[q$pivot[seq_len(q$rank)], , drop = FALSE]
  Lb <- L %*% b
  c(nrow(L), as.numeric(t(Lb) %*% solve(L %*% V %*% t(L), Lb)))
}

# The rows that set every non-aliased parameter of an effect to 0 in every
# logit: for an effect that no other effect contains, the Type III
# hypothesis of the effect.
effect_rows <- function(cols, q, L, aliased) {
  rows <- NULL
  for (k in 0:(L - 1)) for (c in cols) {
    j <- k * q + c
    if (aliased[j] == 0) {
      r <- rep(0, q * L)
      r[j] <- 1
      rows <- rbind(rows, r)
    }
  }
  rows
}

fit_case <- function(name, d, terms, ref, tests = list()) {
  X <- design(d, terms)
  w <- d$w
  keep <- kept_columns(X, w)
  Xk <- X[, keep, drop = FALSE]
  codes <- sort(unique(d$y[w > 0]))
  reference <- if (ref == -1) max(codes) else if (ref == -2) min(codes) else ref
  order <- c(setdiff(codes, reference), reference)
  J <- length(order)
  Y <- sapply(order, function(k) as.numeric(d$y == k))

  if (J == 2) {
    start <- coef(glm(Y[, 1] ~ Xk - 1, family = binomial, weights = w,
                      control = glm.control(epsilon = 1e-14, maxit = 100)))
  } else {
    resp <- factor(d$y, levels = c(reference, order[-J]))
    fit <- multinom(resp ~ Xk - 1, weights = w, maxit = 2000, reltol = 1e-16, trace = FALSE)
    start <- as.vector(t(coef(fit)))
  }
  beta <- start
  for (it in 1:50) {
    parts <- mlogit_parts(beta, Xk, Y, w)
    step <- solve(parts$info, parts$score)
    beta <- beta + step
    if (max(abs(step) / pmax(abs(beta), 1e-8)) < 1e-15) break
  }
  parts <- mlogit_parts(beta, Xk, Y, w)
  V <- solve(parts$info)

  q <- ncol(X)
  L <- J - 1
  full <- rep(0, q * L)
  aliased <- rep(1, q * L)
  idx <- as.vector(sapply(0:(L - 1), function(k) k * q + keep))
  full[idx] <- beta
  aliased[idx] <- 0
  cov <- matrix(0, q * L, q * L)
  cov[idx, idx] <- V

  W <- sum(w)
  n <- sapply(order, function(k) sum(w[d$y == k]))
  ll0 <- sum(n * log(n / W))
  ll <- parts$ll
  cs <- 1 - exp(2 * (ll0 - ll) / W)
  ng <- cs / (1 - exp(2 * ll0 / W))
  mf <- 1 - ll / ll0

  cat("case", name, "\n")
  cat("data", nrow(d), 6, "\n")
  for (i in seq_len(nrow(d))) cat(g17(unlist(d[i, c("y", "A", "B", "x1", "x2", "w")])), "\n")
  cat("categories", J, order, "\n")
  out("estimate", full)
  out("aliased", aliased)
  out("covariance", as.vector(t(cov)))
  out("loglik", c(ll0, ll))
  out("rsquare", c(cs, ng, mf))
  for (t in names(tests)) {
    rows <- tests[[t]](q, L, aliased)
    out(paste0("wald_", t), wald(rows, full, cov))
  }
  cat("end\n")
}

# Draws from a multinomial logit with the given linear predictors (one
# column per non-reference category; the last category is the reference).
draw <- function(eta) {
  P <- exp(cbind(eta, 0))
  P <- P / rowSums(P)
  apply(P, 1, function(p) sample.int(length(p), 1, prob = p) - 1)
}

set.seed(20261205)

# A frequency-weighted factor model: every (y, A, B) combination once, with
# its count as the weight.
cells <- expand.grid(y = 0:2, A = 0:2, B = 0:1)
cells$x1 <- 0
cells$x2 <- 0
cells$w <- c(12, 5, 9, 7, 14, 3, 20, 6, 8, 4, 11, 15, 9, 9, 2, 13, 5, 17)
# Basic parameters: intercept, A0, A1, A2, B0, B1. Besides the two effects,
# A0 - A1 = 0 in every logit.
fit_case("freq_factors", cells, list(list(fac = "A", cov = c()), list(fac = "B", cov = c())), -1,
         list(A = function(q, L, al) effect_rows(2:4, q, L, al),
              B = function(q, L, al) effect_rows(5:6, q, L, al),
              A0_A1 = function(q, L, al) {
                rows <- NULL
                for (k in 0:(L - 1)) { r <- rep(0, q * L); r[k * q + 2] <- 1; r[k * q + 3] <- -1
                  rows <- rbind(rows, r) }
                rows
              }))

# Factors with covariates and a factor-by-covariate term, four categories.
n <- 400
d <- data.frame(A = sample(0:2, n, replace = TRUE), B = 0, x1 = short(rnorm(n)),
                x2 = short(runif(n)), w = 1)
eta <- cbind(0.4 + 0.8 * d$x1 - (d$A == 1) * 0.7,
             -0.2 + 1.1 * d$x2 + (d$A == 2) * 0.9 - 0.5 * d$x1 * (d$A == 0),
             0.3 - 0.6 * d$x1 + 0.4 * d$x2)
d$y <- draw(eta)
terms_cov <- list(list(fac = "A", cov = c()), list(fac = c(), cov = "x1"),
                  list(fac = c(), cov = "x2"), list(fac = "A", cov = "x1"))
fit_case("factors_covariates", d, terms_cov, -1)

# The same data with the first category as the reference, main effects only.
# Basic parameters: intercept, A0, A1, A2, x1, x2.
fit_case("reference_first", d, terms_cov[1:3], -2,
         list(A = function(q, L, al) effect_rows(2:4, q, L, al),
              x1 = function(q, L, al) effect_rows(5, q, L, al),
              x2 = function(q, L, al) effect_rows(6, q, L, al)))

# A binary model.
n <- 300
b <- data.frame(A = sample(0:3, n, replace = TRUE), B = 0, x1 = short(rnorm(n, 1, 2)), x2 = 0,
                w = 1)
b$y <- draw(matrix(-0.3 + 0.5 * b$x1 - 0.8 * (b$A == 2) + 0.6 * (b$A == 0), ncol = 1))
fit_case("binary", b, list(list(fac = "A", cov = c()), list(fac = c(), cov = "x1")), -1)

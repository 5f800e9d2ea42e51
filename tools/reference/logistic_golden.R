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
#   pvalue <p>  lower <p>  upper <p>   each parameter's one-df Wald
#     chi-square p-value and 95% Wald limits; NaN for an aliased parameter
#   end
# Run from the repository root:
#   Rscript tools/reference/logistic_golden.R > tests/golden/logistic_golden.txt

source("tools/reference/common.R")
source("tools/reference/mlogit.R")

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

fit_case <- function(name, d, terms, ref, tests = list(), extra = NULL) {
  X <- design(d, terms)
  w <- d$w
  keep <- kept_columns(X, w)
  Xk <- X[, keep, drop = FALSE]
  codes <- sort(unique(d$y[w > 0]))
  reference <- if (ref == -1) max(codes) else if (ref == -2) min(codes) else ref
  order <- c(setdiff(codes, reference), reference)
  J <- length(order)
  fit <- mlogit_fit(Xk, d$y, w, order)
  beta <- fit$beta
  V <- fit$V
  parts <- list(ll = fit$ll)

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
  se <- sqrt(diag(cov))
  se[aliased == 1] <- NaN
  out("pvalue", pchisq(full^2 / se^2, 1, lower.tail = FALSE))
  out("lower", full - qnorm(0.975) * se)
  out("upper", full + qnorm(0.975) * se)
  if (!is.null(extra)) extra()
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
# Marginal means of A at the mean of x1 for the logit of category 0: on the
# logit scale and as probabilities (delta-method standard errors, intervals
# from the normal distribution), and the pairs of levels on the logit scale
# with Bonferroni's adjustment, from emmeans on the same fit.
binary_emmeans <- function() {
  suppressPackageStartupMessages(library(emmeans))
  emm_options(opt.digits = FALSE)
  b$Af <- factor(b$A)
  gb <- glm(I(y == 0) ~ Af + x1, family = binomial, data = b,
            control = glm.control(epsilon = 1e-15, maxit = 100))
  e <- emmeans(gb, ~ Af)
  link <- summary(e)
  out("emm_logit", link$emmean)
  out("emm_logit_se", link$SE)
  out("emm_logit_lo", link$asymp.LCL)
  out("emm_logit_hi", link$asymp.UCL)
  resp <- summary(e, type = "response")
  out("emm_prob", resp$response)
  out("emm_prob_se", resp$SE)
  out("emm_prob_lo", resp$asymp.LCL)
  out("emm_prob_hi", resp$asymp.UCL)
  pw <- summary(pairs(e, adjust = "bonferroni"), infer = c(TRUE, TRUE))
  out("emm_pairs", pw$estimate)
  out("emm_pairs_se", pw$SE)
  out("emm_pairs_p", pw$p.value)
  out("emm_x1_mean", mean(b$x1))
}
fit_case("binary", b, list(list(fac = "A", cov = c()), list(fac = c(), cov = "x1")), -1,
         extra = binary_emmeans)

# Golden Wald tests of L-matrix hypotheses L b = K on a general linear model,
# computed from R's lm on the library's over-parametrised design.
#
# Model: y on the factors A (3 levels) and B (2 levels) and the covariate x,
# with an intercept. The library's columns are
#   0 intercept, 1-3 A = 0, 1, 2, 4-5 B = 0, 1, 6 x;
# lm(y ~ 0 + X) reports A = 2 and B = 1 as aliased (NA), whose estimates are
# taken as 0 with zero rows and columns in the covariance matrix, as in the
# library. For every L (and K):
#   overall: W = (Lb - K)' (L V L')^- (Lb - K) with V = vcov(lm); rank of
#            L V L'; F = W / rank with the residual df; chi-square = W;
#   rows:    estimate l'b, standard error sqrt(l'Vl), t = (l'b - k)/se with
#            two-sided p, chi-square t^2 with p; Bonferroni (p.adjust with
#            n = number of non-redundant rows) and Holm over the rows that are
#            neither zero nor multiples of an earlier row (a multiple copies
#            its original's Holm value); 95% intervals, unadjusted and
#            Bonferroni. car::linearHypothesis cross-checks the full-rank L.
# Response scale (log link): cells M (design rows), mu = exp(M b), contrasts
# L mu with the delta method, A = L diag(mu) M, S = A V A'.
#
# Output (tests/golden.h reads it): whitespace separated "key n values",
# grouped by "case NAME" ... "end"; NA marks a value that does not exist (a
# row that is not tested).
# Run from the repository root:
#   Rscript tools/reference/lmatrix.R > tests/golden/lmatrix.txt
suppressPackageStartupMessages({
  library(MASS)
  library(car)
})

g17 <- function(v) paste(sprintf("%.17g", v), collapse = " ")
out <- function(key, v) cat(key, length(v), g17(v), "\n")
short <- function(v) as.numeric(sprintf("%.6g", v))

set.seed(20261205)
n <- 24
A <- rep(0:2, 8)
B <- c(0, 1, 1, 0, 0, 1, 1, 1, 0, 0, 1, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0, 1, 1, 0)
x <- short(runif(n, 0, 2))
y <- short(1 + c(0, 0.4, -0.3)[A + 1] + 0.2 * B + 0.25 * x + rnorm(n, sd = 0.3))
X <- cbind(1, outer(A, 0:2, "==") + 0, outer(B, 0:1, "==") + 0, x)
p <- ncol(X)
fit <- lm(y ~ 0 + X)
b <- unname(coef(fit))
aliased <- is.na(b)
stopifnot(identical(which(aliased), c(4L, 6L)))
b[aliased] <- 0
V <- matrix(0, p, p)
V[!aliased, !aliased] <- vcov(fit)[!aliased, !aliased]
dfe <- fit$df.residual
# car refuses aliased models: the same fit on the non-aliased columns.
Xr <- X[, !aliased]
fit_r <- lm(y ~ 0 + Xr)

cat("data", n, 4, "\n")
for (i in seq_len(n)) cat(g17(c(y[i], A[i], B[i], x[i])), "\n")
out("errordf", dfe)

# Row codes as the library assigns them: -2 zero row, i (0-based) for a
# multiple of row i with its K value appended, -1 otherwise.
row_codes <- function(L, K) {
  r <- nrow(L)
  code <- rep(-1, r)
  for (i in seq_len(r)) {
    if (all(L[i, ] == 0)) { code[i] <- -2; next }
    if (code[i] != -1) next
    for (j in seq_len(r)[-seq_len(i)]) {
      if (code[j] != -1) next
      a <- c(L[i, ], K[i]); c2 <- c(L[j, ], K[j])
      if (qr(rbind(a, c2))$rank == 1) code[j] <- i - 1
    }
  }
  code
}

lmatrix_case <- function(name, L, K = rep(0, nrow(L))) {
  cat("case", name, "\n")
  out("L", as.vector(t(L)))
  out("K", K)
  d <- L %*% b - K
  S <- L %*% V %*% t(L)
  rank <- qr(S, tol = 1e-10)$rank
  W <- drop(t(d) %*% ginv(S) %*% d)
  F <- W / rank
  out("rank", rank)
  out("chisq", c(W, pchisq(W, rank, lower.tail = FALSE)))
  out("F", c(F, pf(F, rank, dfe, lower.tail = FALSE)))
  if (qr(L)$rank == nrow(L)) {
    Lr <- L[, !aliased, drop = FALSE]
    hF <- linearHypothesis(fit_r, Lr, rhs = K, test = "F")
    hC <- linearHypothesis(fit_r, Lr, rhs = K, test = "Chisq")
    stopifnot(all.equal(hF$F[2], F, tolerance = 1e-10),
              all.equal(hC$Chisq[2], W, tolerance = 1e-10))
  }
  est <- drop(L %*% b)
  se <- sqrt(pmax(diag(S), 0))
  tested <- se > 0
  tv <- ifelse(tested, (est - K) / se, NA)
  pt2 <- ifelse(tested, 2 * pt(-abs(tv), dfe), NA)
  chi <- ifelse(tested, tv^2, NA)
  pchi <- ifelse(tested, pchisq(chi, 1, lower.tail = FALSE), NA)
  code <- row_codes(L, K)
  m <- sum(code == -1)
  bonf <- ifelse(tested, pmin(1, m * pt2), NA)
  holm <- rep(NA_real_, nrow(L))
  fam <- which(code == -1 & tested)
  holm[fam] <- p.adjust(pt2[fam], "holm", n = m)
  for (j in which(code >= 0 & tested)) holm[j] <- holm[code[j] + 1]
  q0 <- qt(0.975, dfe)
  qb <- qt(1 - 0.05 / (2 * m), dfe)
  out("codes", code)
  out("estimate", est)
  out("se", se)
  out("t", tv)
  out("pt", pt2)
  out("chi", chi)
  out("pchi", pchi)
  out("bonferroni", bonf)
  out("holm", holm)
  out("lsdci", c(rbind(est - q0 * se, est + q0 * se)))
  out("bonfci", c(rbind(est - qb * se, est + qb * se)))
  cat("end\n")
}

e <- function(...) { v <- rep(0, p); a <- list(...); for (k in seq(1, length(a), 2)) v[a[[k]] + 1] <- a[[k + 1]]; v }
lmatrix_case("single", rbind(e(1, 1, 2, -1)))
lmatrix_case("effectA", rbind(e(1, 1, 3, -1), e(2, 1, 3, -1)))
lmatrix_case("redundant", rbind(e(1, 1, 3, -1), e(2, 1, 3, -1), e(1, 1, 2, -1),
                                e(1, 2, 3, -2), rep(0, p)))
lmatrix_case("kvector", rbind(e(1, 1, 2, -1), e(6, 1), e(4, 1, 5, -1)), K = c(0.5, 0.4, -0.3))

# effectA again: Bonferroni with a caller-given multiplicity of 4, and the
# overall F with 7 denominator df (what a Satterthwaite object without
# covariance parameters falls back to).
LA <- rbind(e(1, 1, 3, -1), e(2, 1, 3, -1))
dA <- drop(LA %*% b)
SA <- LA %*% V %*% t(LA)
pA <- 2 * pt(-abs(dA / sqrt(diag(SA))), dfe)
WA <- drop(t(dA) %*% ginv(SA) %*% dA)
rA <- qr(SA, tol = 1e-10)$rank
cat("case", "effectA_more", "\n")
out("bonferroni4", pmin(1, 4 * pA))
out("F7", c(WA / rA, pf(WA / rA, rA, 7, lower.tail = FALSE)))
cat("end\n")

# Response scale under the log link: three cells (A = 0, 1, 2 at B = 0 and
# x = 1), successive differences of their means.
M <- rbind(e(0, 1, 1, 1, 4, 1, 6, 1), e(0, 1, 2, 1, 4, 1, 6, 1), e(0, 1, 3, 1, 4, 1, 6, 1))
L <- rbind(c(1, -1, 0), c(0, 1, -1))
mu <- exp(drop(M %*% b))
Am <- L %*% diag(mu) %*% M
S <- Am %*% V %*% t(Am)
d <- drop(L %*% mu)
W <- drop(t(d) %*% ginv(S) %*% d)
rank <- qr(S)$rank
cat("case original\n")
out("M", as.vector(t(M)))
out("L", as.vector(t(L)))
out("rank", rank)
out("chisq", c(W, pchisq(W, rank, lower.tail = FALSE)))
out("F", c(W / rank, pf(W / rank, rank, dfe, lower.tail = FALSE)))
se <- sqrt(diag(S))
out("estimate", d)
out("se", se)
out("pt", 2 * pt(-abs(d / se), dfe))
out("bonfci", c(rbind(d - qt(1 - 0.05 / 4, dfe) * se, d + qt(1 - 0.05 / 4, dfe) * se)))
cat("end\n")

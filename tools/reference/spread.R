# Covariates whose spread is small beside their magnitude: an epoch
# millisecond timestamp over half an hour, and calendar years with their
# square. The data sets are written to tests/golden/spread/; the reference
# fits are computed on centred (and, for the timestamp, rescaled) columns,
# where they are well conditioned, and carried back to the raw columns by
# the exact linear map between the two parametrisations.
#
# Output (tests/golden.h reads it), one block per case:
#   case <name>  estimate <p> ...  se <p> ...  [rsquare 1 <R^2>]  end
# Logistic cases list the estimates logit by logit (reference last).
# Run from the repository root:
#   Rscript tools/reference/spread.R > tests/golden/spread.txt

source("tools/reference/common.R")
source("tools/reference/mlogit.R")

set.seed(20261206)
dir <- "tests/golden/spread"

# --- A timestamp: values near 1.73e12, spread 1.8e6 ------------------------
n <- 240
t <- 1733000000000 + round(runif(n, 0, 1.8e6))
y <- short(3 + 1.078e-6 * (t - min(t)) + rnorm(n, 0, 0.5))
eta <- -0.5 + 1.6e-6 * (t - mean(t))
yb <- as.numeric(runif(n) < plogis(eta))
yc <- sapply(seq_len(n), function(i) {
  p <- exp(c(0.3 + 1e-6 * (t[i] - mean(t)), -0.2 - 1.2e-6 * (t[i] - mean(t)), 0))
  sample(1:3, 1, prob = p / sum(p))
})
# Columns that are exactly collinear with t and the intercept.
ts <- data.frame(y = y, yb = yb, yc = yc, t = t, copy = t, twice = 2 * t, shifted = t + 1000)
write.csv(ts, file.path(dir, "timestamp.csv"), row.names = FALSE)

m <- mean(t); s <- sd(t)
u <- (t - m) / s
# Least squares: slope b/s, intercept a - b m / s.
fit <- lm(y ~ u)
cu <- coef(fit); vu <- vcov(fit)
A <- rbind(c(1, -m / s), c(0, 1 / s))
cat("case glm_timestamp\n")
out("estimate", A %*% cu)
out("se", sqrt(diag(A %*% vu %*% t(A))))
out("rsquare", summary(fit)$r.squared)
cat("end\n")

logistic_case <- function(name, X, A, yv, order) {
  f <- mlogit_fit(X, yv, rep(1, length(yv)), order)
  L <- length(order) - 1
  T <- kronecker(diag(L), A)
  cat("case", name, "\n")
  out("estimate", T %*% f$beta)
  out("se", sqrt(diag(T %*% f$V %*% t(T))))
  cat("end\n")
}
X <- cbind(1, u)
logistic_case("binary_timestamp", X, A, yb, c(0, 1))
logistic_case("multinomial_timestamp", X, A, yc, c(1, 2, 3))

# The sequential (Type I) Wald test of t in yc ~ t + y: its hypothesis is
# t's row of X'X swept on the intercept, (0, 1, t'M y / t'M t) per logit
# with M the centring, which is the same on the centred and scaled u.
fty <- mlogit_fit(cbind(1, u, y), yc, rep(1, length(yc)), c(1, 2, 3))
uc <- u - mean(u)
Lrow <- c(0, 1, sum(uc * (y - mean(y))) / sum(uc^2))
Lt <- kronecker(diag(2), t(Lrow))
et <- Lt %*% fty$beta
cat("case multinomial_timestamp_type1\n")
out("chi_square", drop(t(et) %*% solve(Lt %*% fty$V %*% t(Lt), et)))
cat("end\n")

# The binary model under HC1 (sandwich::vcovHC of glm, which is
# statsmodels' MNLogit HC1; converged tightly, since the middle takes the
# fitted probabilities): its logit is that of the first category
# against the last, the negative of glm's.
suppressPackageStartupMessages(library(sandwich))
fitb <- glm(yb ~ u, family = binomial, control = glm.control(epsilon = 1e-15, maxit = 100))
Vb <- vcovHC(fitb, type = "HC1")
cat("case binary_timestamp_hc1\n")
out("estimate", -A %*% coef(fitb))
out("se", sqrt(diag(A %*% Vb %*% t(A))))
cat("end\n")

# --- Calendar years 2015-2020 and their square -----------------------------
n <- 150
year <- rep(2015:2020, length.out = n)
v <- year - 2017.5
y <- short(10 + 0.8 * v - 0.35 * v^2 + rnorm(n, 0, 1))
yc <- sapply(v, function(x) {
  p <- exp(c(0.2 + 0.3 * x - 0.25 * x^2, -0.1 - 0.2 * x + 0.1 * x^2, 0))
  sample(1:3, 1, prob = p / sum(p))
})
write.csv(data.frame(y = y, yc = yc, year = year), file.path(dir, "years.csv"),
          row.names = FALSE)

# beta = A c for c on (1, v, v^2), v = year - c0:
#   year^2: c2;  year: c1 - 2 c0 c2;  intercept: c0' - c1 c0 + c2 c0^2.
c0 <- 2017.5
A <- rbind(c(1, -c0, c0^2), c(0, 1, -2 * c0), c(0, 0, 1))
fit <- lm(y ~ v + I(v^2))
cat("case glm_years\n")
out("estimate", A %*% coef(fit))
out("se", sqrt(diag(A %*% vcov(fit) %*% t(A))))
out("rsquare", summary(fit)$r.squared)
cat("end\n")
logistic_case("multinomial_years", cbind(1, v, v^2), A, yc, c(1, 2, 3))

# --- A factor-by-timestamp term: t within the categories of A --------------
# The fit is compared through what does not depend on the parametrisation:
# R-square, the residual standard error and the rank.
n <- 200
A <- sample(c("a", "b", "c"), n, TRUE)
t <- 1733000000000 + round(runif(n, 0, 1.8e6))
slope <- c(a = 1e-6, b = -5e-7, c = 2e-6)[A]
y <- short(as.numeric(factor(A)) + slope * (t - min(t)) + rnorm(n, 0, 0.4))
write.csv(data.frame(y = y, A = A, t = t), file.path(dir, "cells.csv"), row.names = FALSE)
tc <- (t - mean(t)) / sd(t)
fit <- lm(y ~ A + tc + A:tc)
cat("case glm_cells\n")
out("rsquare", summary(fit)$r.squared)
out("sigma", summary(fit)$sigma)
out("rank", fit$rank)
# Type III tests of the intercept and of A: the intercepts at t = 0, as
# car::Anova(type = 3) with contr.sum tests them, carried from the centred
# fit to t = 0 by the exact map between the parametrisations.
A3 <- factor(A)
contrasts(A3) <- contr.sum(3)
fit3 <- lm(y ~ A3 + tc + A3:tc)
b3 <- coef(fit3); V3 <- vcov(fit3)
E <- rbind(c(1, 1, 0), c(1, 0, 1), c(1, -1, -1))
Lint <- cbind(E, -mean(t) / sd(t) * E)  # per level: its intercept at t = 0
wald <- function(L) {
  e <- L %*% b3
  drop(t(e) %*% solve(L %*% V3 %*% t(L), e)) / nrow(L)
}
out("type3_f", c(wald(matrix(colMeans(Lint), 1)),
                 wald(rbind(Lint[1, ] - Lint[3, ], Lint[2, ] - Lint[3, ]))))
out("type3_df", c(1, 2))
cat("end\n")

# The same cells with a slope per category, t(A), under HC3: vcovHC of the
# centred fit (reference category c, as the program's last) carried to the
# raw parameters (intercept, a, b, the slopes of a, b, c) by the exact map.
Ac <- relevel(factor(A), "c")
fitn <- lm(y ~ Ac + Ac:tc)
bn <- coef(fitn)[c("(Intercept)", "Aca", "Acb", "Aca:tc", "Acb:tc", "Acc:tc")]
Vn <- vcovHC(fitn, type = "HC3")[names(bn), names(bn)]
k <- mean(t) / sd(t)
J <- rbind(c(1, 0, 0, 0, 0, -k), c(0, 1, 0, -k, 0, k), c(0, 0, 1, 0, -k, k),
           cbind(matrix(0, 3, 3), diag(3) / sd(t)))
cat("case glm_cells_hc3\n")
out("estimate", J %*% bn)
out("se", sqrt(diag(J %*% Vn %*% t(J))))
cat("end\n")

# --- x within the cells of A*B, in a model without A*B ---------------------
# y ~ A + B + x + A*B*x spans 1, a, b, u, u a, u b and a b x (a, b = +-1,
# u = x - c0): the slopes within the cells are kept, however far x is from
# zero. In that basis the fit is well conditioned in double; a b x / c0 is
# a b plus a small part, and a b is in no other column.
n <- 48
A <- rep(c("p", "q"), length.out = n)
B <- rep(c("r", "r", "s", "s"), length.out = n)
c0 <- 1.7e9
u <- round(runif(n, 0, 20))
x <- c0 + u
a <- ifelse(A == "p", 1, -1); b <- ifelse(B == "r", 1, -1)
y <- short(2 + 0.3 * a - 0.2 * b + 0.05 * u * (3 + a + b) + rnorm(n))
write.csv(data.frame(y = y, A = A, B = B, x = x), file.path(dir, "cellsnoindicator.csv"),
          row.names = FALSE)
z <- a * b * x / c0
fit <- lm(y ~ a + b + u + u:a + u:b + z)
rss <- sum(residuals(fit)^2)
rss1 <- sum(residuals(lm(y ~ a + b + u))^2)
cat("case glm_cells_no_indicator\n")
out("rsquare", summary(fit)$r.squared)
out("sigma", summary(fit)$sigma)
out("rank", fit$rank)
# The sequential test of A*B*x after A, B and x: 3 df.
out("type1_f", ((rss1 - rss) / 3) / (rss / fit$df.residual))
# Nothing contains A, B or A*B*x (x in A*B*x is no factor of A): each
# Type III sum of squares is what the effect's columns add to all the
# others. Without A's indicator the span is 1, b, u, u b, a x / c0 and
# a b x / c0 (a x / c0 is a plus a small part, and a is in no other column
# then); likewise for B.
drop <- function(f) sum(residuals(f)^2) - rss
out("type3_ss", c(drop(lm(y ~ b + u + u:b + I(a * x / c0) + z)),
                  drop(lm(y ~ a + u + u:a + I(b * x / c0) + z)), rss1 - rss))
cat("end\n")

# --- The same cells in the logistic model ------------------------------------
# The design above, larger, with a binary dependent: the slopes within the
# cells are kept as glm keeps them on the well-conditioned basis.
# The program's logit is that of yb = 0 against yb = 1. Its parameters
# (intercept, [A=p], [B=r], x and the slopes of pr, ps, qr beside qs's)
# are the cells' intercepts at x = 0 and slopes, carried from glm's basis
# by the exact linear map.
n <- 400
A <- rep(c("p", "q"), length.out = n)
B <- rep(c("r", "r", "s", "s"), length.out = n)
u <- round(runif(n, 0, 20))
x <- c0 + u
a <- ifelse(A == "p", 1, -1); b <- ifelse(B == "r", 1, -1)
z <- a * b * x / c0
eta <- -0.5 + 0.3 * a - 0.2 * b + 0.05 * u * (a + b)
yb <- as.numeric(runif(n) < plogis(eta))
write.csv(data.frame(yb = yb, A = A, B = B, x = x), file.path(dir, "cellsbinary.csv"),
          row.names = FALSE)
fitl <- glm(I(1 - yb) ~ a + b + u + u:a + u:b + z, family = binomial,
            control = glm.control(epsilon = 1e-15, maxit = 100))
k <- coef(fitl)[c("(Intercept)", "a", "b", "u", "a:u", "b:u", "z")]
Vl <- vcov(fitl)[names(k), names(k)]
# The intercept of cell (a, b) at x = 0 and its slope, as rows on k.
icpt <- function(aa, bb) c(1, aa, bb, -c0, -c0 * aa, -c0 * bb, 0)
slope <- function(aa, bb) c(0, 0, 0, 1, aa, bb, aa * bb / c0)
J <- rbind(icpt(-1, -1), icpt(1, -1) - icpt(-1, -1), icpt(-1, 1) - icpt(-1, -1),
           slope(-1, -1), slope(1, 1) - slope(-1, -1), slope(1, -1) - slope(-1, -1),
           slope(-1, 1) - slope(-1, -1))
cat("case binary_cells_no_indicator\n")
out("estimate", J %*% k)
out("se", sqrt(diag(J %*% Vl %*% t(J))))
out("rank", fitl$rank)
cat("end\n")

# --- A robust covariance of x within the cells of A*B without A*B ------------
# The first data of these cells with x = 1700 + u: near zero beside its
# spread, the sandwich of the raw columns keeps its digits. HC1 of the
# well-conditioned fit carried to the program's parameters (the cells'
# intercepts at x = 0 and slopes) by the exact linear map.
d <- read.csv(file.path(dir, "cellsnoindicator.csv"))
c0 <- 1700
u <- d$x - 1.7e9; y <- d$y
a <- ifelse(d$A == "p", 1, -1); b <- ifelse(d$B == "r", 1, -1)
z <- a * b * (c0 + u) / c0
fit <- lm(y ~ a + b + u + z + u:a + u:b)
icpt <- function(aa, bb) c(1, aa, bb, -c0, 0, -c0 * aa, -c0 * bb)
slope <- function(aa, bb) c(0, 0, 0, 1, aa * bb / c0, aa, bb)
J <- rbind(icpt(-1, -1), icpt(1, -1) - icpt(-1, -1), icpt(-1, 1) - icpt(-1, -1),
           slope(-1, -1), slope(1, 1) - slope(-1, -1), slope(1, -1) - slope(-1, -1),
           slope(-1, 1) - slope(-1, -1))
cat("case glm_cells_no_indicator_hc1\n")
out("estimate", J %*% coef(fit))
out("se", sqrt(diag(J %*% vcovHC(fit, type = "HC1") %*% t(J))))
cat("end\n")

# --- A timestamp with one record at 0 ----------------------------------------
# 20000 records near 1.7e9 and one at 0: the mean is still far beyond the
# spread, so the sandwich centres the column, and the record at 0 must enter
# centred too. The data follow a closed form that the test writes again.
i <- 0:19999
u <- (i * 7919) %% 100003
x <- 1700000000 + u
y <- (i * 37) %% 101 + u %/% 20000
x[6] <- 0
y[6] <- 50
fit <- lm(y ~ x)
cat("case glm_zero_in_timestamp_hc3\n")
out("estimate", coef(fit))
out("se", sqrt(diag(vcovHC(fit, type = "HC3"))))
cat("end\n")

# --- A square and a product of covariates far from zero, robust ------------
# x near 100 with one record at 104 (leverage 0.9995) and its square under
# HC3; then x near 1000 by z near 50 and their product under HC3 and by
# clusters. vcovHC / vcovCL of the fit on the centred covariates carried to
# the raw parameters by the exact map between the two.
sq <- data.frame(y = c(-0.7, 2.121, 0.385, -0.707, 0.382, 1.268, 1.195, 2.692),
                 x = c(99.038, 99.707, 100.259, 98.848, 100.196, 100.03, 100.085, 104))
write.csv(sq, file.path(dir, "square.csv"), row.names = FALSE)
c0 <- 100
v <- sq$x - c0
fit <- lm(sq$y ~ v + I(v^2))
A <- rbind(c(1, -c0, c0^2), c(0, 1, -2 * c0), c(0, 0, 1))
cat("case glm_square_hc3\n")
out("estimate", A %*% coef(fit))
out("se", sqrt(diag(A %*% vcovHC(fit, type = "HC3") %*% t(A))))
cat("end\n")

n <- 12
x <- 1000 + round(rnorm(n), 3)
z <- 50 + round(rnorm(n, 0, 0.5), 3)
x[n] <- 1003.5
z[n] <- 48.2
g <- rep(c("a", "b", "c", "d"), 3)
y <- short(1 + 0.4 * (x - 1000) - 0.6 * (z - 50) + 0.3 * (x - 1000) * (z - 50) + rnorm(n))
write.csv(data.frame(y = y, x = x, z = z, g = g), file.path(dir, "product.csv"),
          row.names = FALSE)
cx <- 1000
cz <- 50
u <- x - cx
w <- z - cz
fit <- lm(y ~ u + w + u:w)
A <- rbind(c(1, -cx, -cz, cx * cz), c(0, 1, 0, -cz), c(0, 0, 1, -cx), c(0, 0, 0, 1))
cat("case glm_product_hc3\n")
out("estimate", A %*% coef(fit))
out("se", sqrt(diag(A %*% vcovHC(fit, type = "HC3") %*% t(A))))
cat("end\n")
cat("case glm_product_cluster\n")
out("estimate", A %*% coef(fit))
out("se", sqrt(diag(A %*% vcovCL(fit, cluster = g, type = "HC1") %*% t(A))))
cat("end\n")

# --- Products and slopes within cells in the logistic model ----------------
# The logistic fit works on the covariates less their means, products of
# them and slopes within cells included. The references are fitted on the
# centred columns and carried to the raw parameters by the exact map.
#
# A binary yb ~ A + x + x*x at x = 1e5 + N(0, 1): the program's parameters
# are the intercept, [A=a], x and x^2 (the logit of yb = 0 against yb = 1).
n <- 300
A <- rep(c("a", "b"), length.out = n)
x <- 1e5 + round(rnorm(n), 4)
c0 <- 1e5
v <- x - c0
ia <- as.numeric(A == "a")
yb <- as.numeric(runif(n) < plogis(0.2 + 0.4 * ia - 0.6 * v + 0.3 * v^2))
write.csv(data.frame(yb = yb, A = A, x = x), file.path(dir, "squarebinary.csv"),
          row.names = FALSE)
M <- rbind(c(1, 0, -c0, c0^2), c(0, 1, 0, 0), c(0, 0, 1, -2 * c0), c(0, 0, 0, 1))
logistic_case("binary_square", cbind(1, ia, v, v^2), M, yb, c(0, 1))

# A multinomial yc ~ x + z + x*z with x near 5e4 and z near 2000:
# (x - cx)(z - cz) = xz - cz x - cx z + cx cz.
n <- 300
x <- 5e4 + round(rnorm(n), 4)
z <- 2000 + round(rnorm(n, 0, 0.5), 4)
cx <- 5e4
cz <- 2000
u <- x - cx
w <- z - cz
yc <- sapply(seq_len(n), function(i) {
  p <- exp(c(0.3 + 0.5 * u[i] - 0.4 * w[i] + 0.6 * u[i] * w[i],
             -0.2 - 0.3 * u[i] + 0.2 * w[i] - 0.4 * u[i] * w[i], 0))
  sample(1:3, 1, prob = p / sum(p))
})
write.csv(data.frame(yc = yc, x = x, z = z), file.path(dir, "productmultinomial.csv"),
          row.names = FALSE)
M <- rbind(c(1, -cx, -cz, cx * cz), c(0, 1, 0, -cz), c(0, 0, 1, -cx), c(0, 0, 0, 1))
logistic_case("multinomial_product", cbind(1, u, w, u * w), M, yc, c(1, 2, 3))

# yb ~ A + x(A) on the cells above at x = 1.7e6 + u: the parameters are
# the intercept, [A=p] ([A=q] aliased) and the slopes within p and q;
# (x - c0)[A=q] = x [A=q] - c0 + c0 [A=p].
d <- read.csv(file.path(dir, "cellsbinary.csv"))
c0 <- 1.7e6
u <- d$x - 1.7e9
ip <- as.numeric(d$A == "p")
M <- rbind(c(1, 0, 0, -c0), c(0, 1, -c0, c0), c(0, 0, 1, 0), c(0, 0, 0, 1))
logistic_case("binary_slopes_in_cells", cbind(1, ip, u * ip, u * (1 - ip)), M, d$yb, c(0, 1))

# The same square and slopes under HC1, n / (n - k) V S'S V with S the
# rows' scores x (e - p), at the Newton-refined maximum (glm's last weights
# are those of the step before it, some 1e-9 away).
robust_case <- function(name, X, M, yv) {
  f <- mlogit_fit(X, yv, rep(1, length(yv)), c(0, 1))
  p <- plogis(as.vector(X %*% f$beta))
  S <- X * (as.numeric(yv == 0) - p)
  V <- f$V %*% crossprod(S) %*% f$V * nrow(X) / (nrow(X) - ncol(X))
  cat("case", name, "\n")
  out("estimate", M %*% f$beta)
  out("se", sqrt(diag(M %*% V %*% t(M))))
  cat("end\n")
}
sq <- read.csv(file.path(dir, "squarebinary.csv"))
v <- sq$x - 1e5
robust_case("binary_square_hc1", cbind(1, as.numeric(sq$A == "a"), v, v^2),
            rbind(c(1, 0, -1e5, 1e10), c(0, 1, 0, 0), c(0, 0, 1, -2e5), c(0, 0, 0, 1)), sq$yb)
robust_case("binary_slopes_in_cells_hc1", cbind(1, ip, u * ip, u * (1 - ip)), M, d$yb)

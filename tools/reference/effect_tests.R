# Golden Type I and Type III effect tests and the corrected-model test of a
# general linear model with an unbalanced two-way design (no empty cell), an
# interaction and a covariate; terms in the order A, B, x, A*B.
#
#   Type I:   anova(lm) sequential F tests, same term order;
#   Type III: car::Anova(type = 3) with sum-to-zero contrasts, which for data
#             without empty cells tests the same hypotheses as the Type III
#             estimable functions of the over-parametrised design;
#   model:    the overall F of summary(lm).
#
# Output: "key n values"; for the tests the values are F df1 df2 p.
# Run from the repository root:
#   Rscript tools/reference/effect_tests.R > tests/golden/effect_tests.txt
suppressPackageStartupMessages(library(car))

g17 <- function(v) paste(sprintf("%.17g", v), collapse = " ")
out <- function(key, v) cat(key, length(v), g17(v), "\n")
short <- function(v) as.numeric(sprintf("%.6g", v))

set.seed(7241)
A <- c(rep(0, 9), rep(1, 11), rep(2, 10))
B <- c(rep(0:1, c(3, 6)), rep(0:1, c(7, 4)), rep(0:1, c(5, 5)))
n <- length(A)
x <- short(runif(n, 0, 3))
cell <- c(0, 0.5, -0.4, 0.3, 0.9, -0.2)[A * 2 + B + 1]
y <- short(2 + cell + 0.6 * x + rnorm(n, sd = 0.5))

cat("data", n, 4, "\n")
for (i in seq_len(n)) cat(g17(c(y[i], A[i], B[i], x[i])), "\n")

d <- data.frame(y, A = factor(A), B = factor(B), x)
fit1 <- lm(y ~ A + B + x + A:B, data = d)
a1 <- anova(fit1)
for (t in c("A", "B", "x", "A:B"))
  out(paste0("typeI_", t), c(a1[t, "F value"], a1[t, "Df"], a1["Residuals", "Df"], a1[t, "Pr(>F)"]))

fit3 <- lm(y ~ A + B + x + A:B, data = d, contrasts = list(A = "contr.sum", B = "contr.sum"))
a3 <- Anova(fit3, type = 3)
for (t in c("(Intercept)", "A", "B", "x", "A:B"))
  out(paste0("typeIII_", gsub("[()]", "", t)),
      c(a3[t, "F value"], a3[t, "Df"], a3["Residuals", "Df"], a3[t, "Pr(>F)"]))

f <- summary(fit1)$fstatistic
out("model", c(f[["value"]], f[["numdf"]], f[["dendf"]],
               pf(f[["value"]], f[["numdf"]], f[["dendf"]], lower.tail = FALSE)))

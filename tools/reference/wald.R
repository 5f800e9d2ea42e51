# Golden values for one Wald test of an estimate b against b0 with variance
# v: the statistic, its two-sided p-value, the single-step adjusted p-value
# and the interval b -/+ c sqrt(v), written to tests/golden/wald.csv.
#
# family: t (t, df), F1 (F = t^2 on 1 and df), chisq (one-df Wald
# chi-square, normal interval), normal (z). method: none, bonferroni or
# sidak with multiplicity k; the critical value is the quantile at
# 1 - alpha/2, 1 - alpha/(2k) or (1 + (1 - alpha)^(1/k))/2.
#
# Run from the repository root:  Rscript tools/reference/wald.R

cases <- list(
  list("t", 1.5, 0, 0.36, 12, 0.95, "none", 1),
  list("t", -0.02, 0.1, 0.0025, 3, 0.9, "none", 1),
  list("t", 40, 0, 1, 5, 0.95, "bonferroni", 6),
  list("t", 2.5, 1, 0.81, 0.5, 0.99, "sidak", 4),
  list("t", 1e-3, 0, 1e-8, 1e6, 0.95, "bonferroni", 3),
  list("t", 0, 0, 2, 7, 0.95, "none", 1),
  list("F1", 1.5, 0, 0.36, 12, 0.95, "none", 1),
  list("F1", 3.1, 1, 0.49, 2, 0.8, "sidak", 10),
  list("chisq", 0.7, 0, 0.09, NA, 0.95, "none", 1),
  list("chisq", -12, -3, 4, NA, 0.99, "bonferroni", 5),
  list("chisq", 1e-4, 0, 1e-10, NA, 0.95, "sidak", 2),
  list("normal", 1.96, 0, 1, NA, 0.95, "none", 1),
  list("normal", -0.35, 0.4, 0.04, NA, 0.9, "sidak", 3),
  list("normal", 0, 0, 3, NA, 0.95, "none", 1)
)

prob <- function(method, alpha, k) {
  switch(method,
         none = 1 - alpha / 2,
         bonferroni = 1 - alpha / (2 * k),
         sidak = (1 + (1 - alpha)^(1 / k)) / 2)
}
# Sidak from log1p/expm1: 1 - (1 - p)^k cancels for tiny p.
adjust <- function(method, p, k) {
  switch(method, none = p, bonferroni = min(1, k * p), sidak = -expm1(k * log1p(-p)))
}

rows <- lapply(cases, function(c) {
  family <- c[[1]]; b <- c[[2]]; b0 <- c[[3]]; v <- c[[4]]; df <- c[[5]]
  conf <- c[[6]]; method <- c[[7]]; k <- c[[8]]
  se <- sqrt(v); t <- (b - b0) / se
  stat <- switch(family, t = t, F1 = t^2, chisq = t^2, normal = t)
  p <- switch(family,
              t = 2 * pt(-abs(t), df),
              F1 = pf(t^2, 1, df, lower.tail = FALSE),
              chisq = pchisq(t^2, 1, lower.tail = FALSE),
              normal = 2 * pnorm(-abs(t)))
  q <- prob(method, 1 - conf, k)
  crit <- if (family %in% c("t", "F1")) qt(q, df) else qnorm(q)
  data.frame(family = family, estimate = b, hypothesised = b0, variance = v, df = df,
             confidence = conf, method = method, k = k, statistic = stat, sig = p,
             adjsig = adjust(method, p, k), lower = b - crit * se, upper = b + crit * se)
})
out <- do.call(rbind, rows)
fmt <- function(x) ifelse(is.na(x), "NA", trimws(formatC(x, digits = 17, format = "g")))
num <- c("estimate", "hypothesised", "variance", "df", "confidence", "k", "statistic", "sig",
         "adjsig", "lower", "upper")
for (n in num) out[[n]] <- fmt(out[[n]])
write.table(out, "tests/golden/wald.csv", sep = ",", quote = FALSE, row.names = FALSE)

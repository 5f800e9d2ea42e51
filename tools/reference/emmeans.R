# Golden values for the estimated-marginal-means tests: an unbalanced
# 3 x 2 design with a covariate, y ~ A * B + x, cells weighted equally and x
# held at its mean. Writes "name value" lines with 17 significant digits.
# Usage: Rscript tools/reference/emmeans.R > tests/golden/emmeans.txt
suppressPackageStartupMessages(library(emmeans))
emm_options(opt.digits = FALSE)
d <- data.frame(
  A = c(0, 0, 0, 0, 1, 1, 1, 2, 2, 2, 2, 2, 0, 1, 1, 2, 0, 1, 2, 2),
  B = c(0, 0, 1, 1, 0, 1, 1, 0, 0, 1, 1, 1, 1, 0, 1, 0, 0, 0, 1, 0),
  x = c(1.2, 2.5, 3.1, 0.7, 4.4, 2.2, 3.8, 1.9, 5.0, 2.7, 3.3, 0.9,
        4.1, 1.5, 2.9, 3.6, 2.0, 4.8, 1.1, 2.4),
  y = c(5.1, 7.3, 9.0, 4.2, 11.8, 8.1, 10.9, 6.6, 12.4, 9.7, 10.5, 5.9,
        10.2, 6.0, 9.1, 10.0, 6.2, 12.9, 6.8, 8.3))
d$A <- factor(d$A); d$B <- factor(d$B)
fit <- lm(y ~ A * B + x, data = d)
put <- function(name, v) for (i in seq_along(v))
  cat(sprintf("%s_%d %.17g\n", name, i - 1, v[i]))
dump <- function(name, s) {
  put(paste0(name, "_est"), s$emmean); put(paste0(name, "_se"), s$SE)
  put(paste0(name, "_df"), s$df)
  put(paste0(name, "_lo"), s$lower.CL); put(paste0(name, "_hi"), s$upper.CL)
}
ea <- emmeans(fit, ~ A)
dump("A", summary(ea))
# The A means on the response scale of a log link: exp of the means, the
# delta-method standard errors, the back-transformed bounds.
ra <- summary(update(ea, tran = "log"), type = "response")
put("Alog_mean", ra$response); put("Alog_se", ra$SE)
put("Alog_lo", ra$lower.CL); put("Alog_hi", ra$upper.CL)
eab <- emmeans(fit, ~ A * B)
dump("AB", summary(eab))
# each level against the first, unadjusted
tc <- summary(contrast(ea, "trt.vs.ctrl", adjust = "none"))
put("trt_est", tc$estimate); put("trt_se", tc$SE); put("trt_t", tc$t.ratio)
put("trt_p", tc$p.value)
# pairs 0-1, 0-2, 1-2 with Bonferroni over the three
pw <- summary(pairs(ea, adjust = "bonferroni"), infer = c(TRUE, TRUE))
put("pw_est", pw$estimate); put("pw_se", pw$SE); put("pw_t", pw$t.ratio)
put("pw_p", pw$p.value); put("pw_lo", pw$lower.CL); put("pw_hi", pw$upper.CL)
# Holm's step-down (sequential Bonferroni) over the same three pairs
put("pwholm_p", summary(pairs(ea, adjust = "holm"))$p.value)
# ... and over the 15 pairs of the A x B cells (order as abpw below)
put("abholm_p", summary(pairs(eab, adjust = "holm"))$p.value)

# all 15 pairs of the six A x B cells, Bonferroni over 15; cells numbered in
# emmeans order (A fastest), keys name the two cells compared
pab <- summary(pairs(eab, adjust = "bonferroni"), infer = c(TRUE, TRUE))
cells <- combn(6, 2) - 1
for (r in seq_len(ncol(cells))) {
  k <- sprintf("%d_%d", cells[1, r], cells[2, r])
  cat(sprintf("abpw_%s_%s %.17g\n", c("est", "se", "p", "lo", "hi"), k,
              c(pab$estimate[r], pab$SE[r], pab$p.value[r], pab$lower.CL[r],
                pab$upper.CL[r])), sep = "")
}
put("xmean", mean(d$x))
# covariate profile at x = 1, 3, 5
put("xprof", summary(emmeans(fit, ~ x, at = list(x = c(1, 3, 5))))$emmean)
# Cell (A2, B1) removed: the A x B term is incomplete, emmeans calls the A2
# mean non-estimable. The mean of a marginal cell is then the plain average
# of the observed design cells in it (x at the mean of the remaining data).
di <- d[!(d$A == "2" & d$B == "1"), ]
fi <- lm(y ~ A * B + x, data = di)
b <- coef(fi); ok <- !is.na(b)
V <- vcov(fi)[ok, ok]
cells <- unique(di[, c("A", "B")])
cells$x <- mean(di$x)
X <- model.matrix(~ A * B + x, data = cells,
                  contrasts.arg = list(A = "contr.treatment", B = "contr.treatment"))
L <- t(sapply(levels(di$A), function(a) colMeans(X[cells$A == a, , drop = FALSE])))
L <- L[, ok]
est <- drop(L %*% b[ok]); se <- sqrt(diag(L %*% V %*% t(L)))
put("inc_est", est); put("inc_se", se)
pr <- combn(3, 2)
D <- t(apply(pr, 2, function(ij) L[ij[1], ] - L[ij[2], ]))
de <- drop(D %*% b[ok]); dse <- sqrt(diag(D %*% V %*% t(D)))
put("inc_pw_est", de); put("inc_pw_se", dse)
put("inc_pw_p", pmin(1, 3 * 2 * pt(-abs(de / dse), fi$df.residual)))
put("inc_xmean", mean(di$x))

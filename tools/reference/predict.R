# Reference scores of `mcreg predict`, computed in R.
#
# Fits models to the example data and to tests/golden/cli_logistic.csv and
# scores new records that the script writes beside the results:
#   tests/golden/predict_<case>_new.csv   the new records of each case
#   tests/golden/predict_lm.csv           per case and record: lm's
#       predict(se.fit = TRUE) and its confidence and prediction intervals
#   tests/golden/predict_multinom.csv     per record: each category's
#       probability and its delta-method standard error
# Run from the repository root:
#   Rscript tools/reference/predict.R
#
# The linear models are R's own lm with its treatment contrasts. The
# multinomial model is refined to the maximum from nnet::multinom
# (mlogit.R), with the first category as the reference and treatment
# contrasts, so that nothing but the probabilities (and their standard
# errors, which do not depend on the parametrisation) is shared with the
# program. d p_m / d beta_(k, j) = p_m (delta_mk - p_k) x_j, and the
# variance of p_m is that gradient's quadratic form in the covariance.

source("tools/reference/common.R")
source("tools/reference/mlogit.R")

out_dir <- "tests/golden"
g <- function(v) sprintf("%.17g", v)

write_new <- function(name, d) {
  write.csv(d, file.path(out_dir, paste0("predict_", name, "_new.csv")), row.names = FALSE,
            na = "")
}

rows <- list()
lm_case <- function(name, fit, new, level) {
  write_new(name, new)
  cf <- predict(fit, new, se.fit = TRUE, interval = "confidence", level = level)
  pf <- suppressWarnings(predict(fit, new, interval = "prediction", level = level,
                                 weights = rep(1, nrow(new))))
  rows[[length(rows) + 1]] <<- data.frame(
    case = name, level = level, fit = g(cf$fit[, "fit"]), se = g(cf$se.fit),
    conf_lower = g(cf$fit[, "lwr"]), conf_upper = g(cf$fit[, "upr"]),
    pred_lower = g(pf[, "lwr"]), pred_upper = g(pf[, "upr"]))
}

# Two factors with their interaction.
wb <- read.csv("examples/warpbreaks.csv", stringsAsFactors = TRUE)
lm_case("warpbreaks", lm(breaks ~ wool * tension, wb),
        data.frame(wool = c("B", "A", "A", "B", "A", "B"), tension = c("M", "L", "H", "H", "M", "L")),
        0.95)

# A numeric factor by a covariate, the covariate's square; a new record
# beyond the data and one that writes its category as 6.0.
mt <- read.csv("examples/mtcars.csv")
mt$cylf <- factor(mt$cyl)
mtnew <- data.frame(cyl = c("4", "6.0", "8", "8", "4"), wt = c(2.2, 3.1, 3.9, 5.9, 1.4))
fit <- lm(mpg ~ cylf + wt + cylf:wt + I(wt^2), mt)
lm_case("mtcars", fit, transform(mtnew, cylf = factor(as.numeric(cyl), levels = c(4, 6, 8))), 0.9)

# No intercept, regression weights.
mtw <- data.frame(hp = c(90, 150, 245, 60), wt = c(2.1, 3.3, 3.8, 1.6), qsec = NA)
lm_case("weighted", lm(mpg ~ 0 + hp + wt, mt, weights = qsec), mtw, 0.99)

# The new records of warpbreaks and mtcars are written with what R needs
# only (cylf is R's own factor column).
write_new("mtcars", mtnew)
write.csv(do.call(rbind, rows), file.path(out_dir, "predict_lm.csv"), row.names = FALSE,
          quote = FALSE)

# Multinomial: three categories, a text factor, a numeric factor, a
# covariate, frequency weights.
d <- read.csv("tests/golden/cli_logistic.csv", stringsAsFactors = FALSE, na.strings = c("", "NA"))
d <- d[complete.cases(d[, c("y", "A", "B", "x", "f")]) & d$f > 0, ]
cats <- sort(unique(d$y))
Afac <- sort(unique(d$A))
Bfac <- sort(unique(d$B))
X <- model.matrix(~ factor(A, levels = Afac) + factor(B, levels = Bfac) + x, d)
order <- c(cats[-1], cats[1])  # first category as the reference
fit <- mlogit_fit(X, match(d$y, cats), d$f, match(order, cats))
q <- ncol(X)
L <- length(cats) - 1
new <- data.frame(A = c("west", "north", "south, east", "north", "west"),
                  B = c("20", "100", "3.0", "20", "100"),
                  x = c(0.5, -1.25, 2.0, 0, -0.3), stringsAsFactors = FALSE)
write_new("logistic", new)
Xn <- model.matrix(~ factor(A, levels = Afac) + factor(as.numeric(B), levels = Bfac) + x, new)
B <- matrix(fit$beta, q, L)
eta <- cbind(Xn %*% B, 0)  # columns in `order`
P <- exp(eta) / rowSums(exp(eta))
res <- data.frame(row = seq_len(nrow(new)))
for (m in seq_along(order)) {
  se <- numeric(nrow(new))
  for (i in seq_len(nrow(new))) {
    grad <- numeric(q * L)
    for (k in 1:L) grad[(k - 1) * q + 1:q] <- P[i, m] * ((m == k) - P[i, k]) * Xn[i, ]
    se[i] <- sqrt(sum(grad * (fit$V %*% grad)))
  }
  res[[paste0("p_", order[m])]] <- g(P[, m])
  res[[paste0("se_", order[m])]] <- g(se)
}
write.csv(res, file.path(out_dir, "predict_multinom.csv"), row.names = FALSE, quote = FALSE)

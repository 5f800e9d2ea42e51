# Times R on the models of bench/bench_analyses.sh, for a side-by-side
# comparison with mcreg: the fit (lm), the Type I table (anova of that fit),
# the Type III table (car::Anova(type = 3) of a refit with sum-to-zero
# contrasts, the refit included) and the marginal means (emmeans; for the
# A x B models the means of the cells and the pairs of B levels within each
# A level, Holm-adjusted, as --emmeans A*B --compare B --adjust holm). The
# seconds of each analysis exclude the fit; reading the file is shown apart.
# Run bench/bench_analyses.sh first (it writes the data), then
#   Rscript bench/reference/analyses.R [MODEL...]   (default: every model)
# with MODEL among ab20 ab40 cov250 cov500 g5000 and BENCH_DIR as there.
# The g5000 model is not run: lm's dense design of 1,000,000 records by
# 5,003 columns would take 40 GB.
suppressPackageStartupMessages({
  library(car)
  library(emmeans)
  library(data.table)
})
dir <- Sys.getenv("BENCH_DIR", "/tmp/mcreg-bench")
models <- commandArgs(TRUE)
if (!length(models)) models <- c("ab20", "ab40", "cov250", "cov500", "g5000")

files <- c(ab20 = "analyses_ab20_8000.csv", ab40 = "analyses_ab40_20000.csv",
           cov250 = "analyses_cov250_20000.csv", cov500 = "analyses_cov500_20000.csv",
           g5000 = "analyses_g5000_1000000.csv")
seconds <- function(expr) system.time(expr)[["elapsed"]]
show <- function(model, what, s) cat(sprintf("%-7s %-28s %9.3f\n", model, what, s))

cat(sprintf("%-7s %-28s %9s\n", "model", "step", "seconds"))
for (model in models) {
  if (model == "g5000") {
    cat(sprintf("%-7s %s\n", model, "skipped: lm's dense design would take 40 GB"))
    next
  }
  path <- file.path(dir, files[[model]])
  if (!file.exists(path)) stop(path, " is missing: run bench/bench_analyses.sh 1 ", model)
  t <- seconds(d <- as.data.frame(fread(path)))
  show(model, "read (data.table::fread)", t)
  if (startsWith(model, "ab")) {
    d$A <- factor(d$A)
    d$B <- factor(d$B)
    f <- y ~ A + B + A:B
    sum_to_zero <- list(A = "contr.sum", B = "contr.sum")
  } else {
    f <- as.formula(paste("y ~", paste(setdiff(names(d), "y"), collapse = " + ")))
    sum_to_zero <- NULL
  }
  show(model, "fit: lm", seconds(fit <- lm(f, data = d)))
  show(model, "Type I: anova", seconds(a1 <- anova(fit)))
  show(model, "Type III: lm + car::Anova", seconds({
    fit3 <- lm(f, data = d, contrasts = sum_to_zero)
    a3 <- Anova(fit3, type = 3)
  }))
  if (startsWith(model, "ab")) {
    show(model, "emmeans A*B + pairs B | A", seconds({
      emm <- emmeans(fit, ~ A * B)
      s <- summary(emm)
      p <- summary(pairs(emmeans(fit, ~ B | A), adjust = "holm"))
    }))
  }
}

# Golden values for the single-step Bonferroni and the step-down (Holm)
# p-value adjustments, written to tests/golden/p_adjust.csv.
#
# Each family is one "set". k is the multiplicity handed to the adjustment
# (R's n argument); it may exceed the number of p-values, and missing
# p-values (NA) take no part in the family. Ties are included because the
# step-down order of equal p-values decides which one takes the larger
# multiplier.
#
# Run from the repository root:  Rscript tools/reference/p_adjust.R

families <- list(
  list(p = c(0.01, 0.04, 0.03), k = 3),
  list(p = c(0.3, 0.001, 0.02, 0.2, 0.05), k = 5),
  list(p = c(0.02, 0.02, 0.5, 0.001), k = 4),
  list(p = c(0.011, 0.012, 0.013, 0.014, 0.9, 0.0001), k = 6),
  list(p = c(0.04, NA, 0.01, 0.03), k = 3),
  list(p = c(0.2, 0.01, 0.03), k = 6),
  list(p = c(0, 1, 0.5, 0.25), k = 4),
  list(p = c(0.07), k = 1)
)

set.seed(20240611)
for (i in 1:4) {
  n <- c(7, 12, 20, 45)[i]
  p <- signif(runif(n)^3, 6)
  families[[length(families) + 1]] <- list(p = p, k = n)
}

rows <- list()
for (s in seq_along(families)) {
  f <- families[[s]]
  bonf <- p.adjust(f$p, method = "bonferroni", n = f$k)
  holm <- p.adjust(f$p, method = "holm", n = f$k)
  rows[[s]] <- data.frame(set = s - 1, k = f$k, p = f$p, bonferroni = bonf, holm = holm)
}
out <- do.call(rbind, rows)
fmt <- function(x) ifelse(is.na(x), "NA", trimws(formatC(x, digits = 17, format = "g")))
lines <- c("set,k,p,bonferroni,holm",
           paste(out$set, out$k, fmt(out$p), fmt(out$bonferroni), fmt(out$holm), sep = ","))
writeLines(lines, "tests/golden/p_adjust.csv")

# Golden values for the companion distribution functions (MCDistFun).
# Run: Rscript tools/reference/distfun.R > tests/golden/distfun.csv
# Columns: function, three arguments (NA when unused), value. Upper-tail
# functions (Sig*) use lower.tail = FALSE, which R evaluates directly.
rows <- list()
add <- function(fn, a, b = NA, c = NA, v) {
  rows[[length(rows) + 1]] <<- data.frame(fn = fn, a = a, b = b, c = c, value = v)
}
for (x in c(-37, -10, -3, -1.5, 0, 0.5, 2, 8.3)) {
  add("CdfStdNorm", x, v = pnorm(x))
  add("SigStdNorm", x, v = pnorm(x, lower.tail = FALSE))
}
for (p in c(1e-300, 1e-10, 0.025, 0.5, 0.975, 1 - 1e-10)) add("IdfStdNorm", p, v = qnorm(p))
t_cases <- rbind(c(-40, 5), c(2.5, 3), c(1.96, 1e10), c(0.3, 0.5), c(-3, 1), c(10, 30),
                 c(1.5, 2.5), c(-2, 1e6), c(60, 4))
for (i in seq_len(nrow(t_cases))) {
  x <- t_cases[i, 1]; df <- t_cases[i, 2]
  add("CdfT", x, df, v = pt(x, df))
  add("SigT", x, df, v = pt(x, df, lower.tail = FALSE))
}
qt_cases <- rbind(c(1e-10, 3), c(0.975, 10), c(0.5, 4), c(0.995, 1e10), c(0.9, 0.7),
                  c(0.025, 1), c(0.999, 2.5), c(1e-6, 120))
for (i in seq_len(nrow(qt_cases))) add("IdfT", qt_cases[i, 1], qt_cases[i, 2],
                                       v = qt(qt_cases[i, 1], qt_cases[i, 2]))
chi_cases <- rbind(c(0.5, 1), c(3.84, 1), c(100, 1), c(300, 10), c(1e-5, 2), c(25, 30),
                   c(1e4, 9000), c(2, 0.3), c(9500, 9000))
for (i in seq_len(nrow(chi_cases))) {
  x <- chi_cases[i, 1]; df <- chi_cases[i, 2]
  add("CdfChi", x, df, v = pchisq(x, df))
  add("SigChi", x, df, v = pchisq(x, df, lower.tail = FALSE))
}
for (pc in list(c(0.95, 1), c(1e-8, 4), c(0.5, 1e4))) add("IdfChi", pc[1], pc[2],
                                                          v = qchisq(pc[1], pc[2]))
f_cases <- rbind(c(3.5, 2, 10), c(0.2, 5, 7), c(50, 3, 40), c(1.5, 4, 1e10), c(1e-3, 1, 1),
                 c(200, 2, 3), c(1.01, 1e6, 1e6), c(0.7, 0.5, 2.5))
for (i in seq_len(nrow(f_cases))) {
  x <- f_cases[i, 1]; d1 <- f_cases[i, 2]; d2 <- f_cases[i, 3]
  add("CdfF", x, d1, d2, v = pf(x, d1, d2))
  add("SigF", x, d1, d2, v = pf(x, d1, d2, lower.tail = FALSE))
}
# qf is left out where it is known to stop short of full accuracy (tiny p,
# df2 near 1e10: its chi-square shortcut); the C++ test checks those against
# closed forms.
for (pc in list(c(0.95, 3, 20), c(0.01, 4, 9), c(0.5, 10, 1e4))) add("IdfF", pc[1], pc[2], pc[3],
                                                                      v = qf(pc[1], pc[2], pc[3]))
out <- do.call(rbind, rows)
fmt <- function(v) ifelse(is.na(v), "NA", sprintf("%.17g", v))
cat("fn,a,b,c,value\n")
cat(paste(out$fn, fmt(out$a), fmt(out$b), fmt(out$c), fmt(out$value), sep = ","), sep = "\n")
cat("\n")

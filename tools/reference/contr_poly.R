# Golden orthonormal polynomial contrasts from R's contr.poly(k, scores).
# Output (long format, one line per matrix entry):
#   case,k,level,score,degree,value
# where the contrast of degree d (1 .. k-1) has weight `value` on `level`
# (0-based). Run from the repository root:
#   Rscript tools/reference/contr_poly.R > tests/golden/contr_poly.csv
spacings <- list(
  equal     = function(k) seq_len(k),
  geometric = function(k) 2^(seq_len(k) - 1),
  irregular = function(k) c(0.5, 3, 3.5, 10, 11, 20)[seq_len(k)],
  unsorted  = function(k) c(5, 1, 3, 10, 2, 7)[seq_len(k)],
  negative  = function(k) c(-4, -3.9, 0, 0.25, 6, 6.5)[seq_len(k)]
)
cat("case,k,level,score,degree,value\n")
case <- 0
for (k in 2:6) {
  for (name in names(spacings)) {
    s <- spacings[[name]](k)
    z <- contr.poly(k, scores = s)
    for (d in seq_len(k - 1)) {
      for (j in seq_len(k)) {
        cat(sprintf("%d,%d,%d,%.17g,%d,%.17g\n", case, k, j - 1, s[j], d, z[j, d]))
      }
    }
    case <- case + 1
  }
}

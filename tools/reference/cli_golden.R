# Golden end-to-end results of the mcreg program, computed with R's lm.
#
# Writes the small data files the command-line tests read and, for every case,
# the command arguments and the full expected --json result (timings aside):
#   tests/golden/cli_main.csv     RFC 4180 features: UTF-8 BOM, CRLF, quoted
#                                      fields with embedded commas and quotes
#   tests/golden/cli_missing.csv  NA and empty cells
#   tests/golden/cli_records.bin  headerless records of 4 doubles (y,a,b,x)
#   tests/golden/cli_cases.json   the cases
# Run from the repository root:
#   Rscript tools/reference/cli_golden.R
#
# The design is the program's over-parametrised one, built here independently:
# an intercept column, then per formula term one column per observed cell
# (categories sorted: numbers numerically, text byte-wise; the term's first
# factor slowest, for A(B) the enclosing B slowest), each multiplied by the
# term's covariates. lm on that matrix reports as NA exactly the columns that
# are combinations of earlier ones; this is checked against a sequential rank
# test. Statistics use the frequency weights as replication counts:
# df = W - rank, sigma^2 = sum(fw rw e^2) / df, rmse = sqrt(sum(fw rw e^2) / W),
# R-square about the fw*rw-weighted mean (uncentered without intercept).
# Aliased parameters have estimate 0 and null statistics, df included. The
# "effect" of a parameter is its formula term as written, without blanks and
# with ":" read as "*".

out_dir <- "tests/golden"
g17 <- function(v) sprintf("%.17g", v)

# ---------------------------------------------------------------- data files

write_csv_bytes <- function(d, path, bom = FALSE, eol = "\n") {
  tmp <- tempfile()
  write.csv(d, tmp, row.names = FALSE, na = "", eol = eol)
  bytes <- readBin(tmp, "raw", file.size(tmp))
  if (bom) bytes <- c(as.raw(c(0xef, 0xbb, 0xbf)), bytes)
  writeBin(bytes, path)
}

set.seed(20240611)
a_levels <- c("Zed", "alpha", "beta, \"q\"") # byte order differs from locale order
b_levels <- c(2, 10, 100)                     # numeric order differs from text order
cells <- expand.grid(A = a_levels, B = b_levels, stringsAsFactors = FALSE)
cells <- cells[!(cells$A == "alpha" & cells$B == 100), ] # one empty A*B cell
idx <- c(rep(seq_len(nrow(cells)), 3), sample(seq_len(nrow(cells)), 12, replace = TRUE))
main <- cells[sample(idx), ]
n <- nrow(main)
main$C <- ifelse(main$A == "beta, \"q\"", sample(c("c1", "c2"), n, TRUE),
                 sample(c("c1", "c2", "c3"), n, TRUE))
main$x <- round(rnorm(n, 50, 10), 1)
main$z <- round(runif(n, 0, 20), 2)
main$s <- round(main$x + 2 * main$z, 2) # an exact combination of x and z
aeff <- c(Zed = 0, alpha = 3, "beta, \"q\"" = -2)[main$A]
main$y <- round(20 + aeff + 0.02 * main$B + 0.4 * main$x - 0.003 * main$x^2 +
                0.5 * main$z + rnorm(n, 0, 1.5), 3)
main$f <- sample(1:3, n, TRUE)
main$f[5] <- 0 # not a positive weight: the record is left out
main$w <- round(runif(n, 0.5, 2), 3)
main$note <- sample(c("plain", "with, comma", "say \"hi\"", NA), n, TRUE) # unused
main <- main[, c("note", "y", "A", "B", "C", "x", "z", "s", "f", "w")]
rownames(main) <- NULL
write_csv_bytes(main, file.path(out_dir, "cli_main.csv"), bom = TRUE, eol = "\r\n")

# Category "s" occurs only in records whose dependent is missing, so it must get
# no parameter; the unused column "other" is missing in records that are kept.
m <- 30
miss <- data.frame(y = round(rnorm(m, 10, 2), 2),
                   A = sample(c("p", "q", "r"), m, TRUE),
                   x = round(runif(m, 1, 9), 2),
                   other = sample(1:5, m, TRUE), stringsAsFactors = FALSE)
miss$y <- round(miss$y + c(p = 0, q = 1.5, r = -1)[miss$A] + 0.3 * miss$x, 2)
cell <- function(v) ifelse(is.na(v), "NA", as.character(v))
lines <- c("y,A,x,other",
           sprintf("%s,%s,%s,%s", cell(miss$y), miss$A, cell(miss$x), cell(miss$other)))
lines[1 + 3] <- "NA,s,4.5,1"   # missing dependent as NA
lines[1 + 8] <- ",s,2.25,3"    # missing dependent as an empty cell
lines[1 + 12] <- "9.5,,3.5,2"  # missing factor
lines[1 + 17] <- "11.25,q,NA," # missing covariate; other empty too
lines[1 + 21] <- "8.75,r,,4"   # missing covariate as an empty cell
lines[1 + 25] <- sprintf("%s,%s,%s,NA", cell(miss$y[25]), miss$A[25], cell(miss$x[25]))
lines[1 + 26] <- sprintf("%s,%s,%s,", cell(miss$y[26]), miss$A[26], cell(miss$x[26]))
writeLines(lines, file.path(out_dir, "cli_missing.csv"))

# Binary records: y, a (3 codes), b (2 codes), x.
k <- 24
rec <- data.frame(a = rep(0:2, each = 8), b = rep(0:1, 12), x = round(runif(k, 0, 10), 3))
rec$y <- 5 + rec$a - 2 * rec$b + 0.5 * rec$a * rec$b + 0.8 * rec$x + rnorm(k)
rec <- rec[, c("y", "a", "b", "x")]
con <- file(file.path(out_dir, "cli_records.bin"), "wb")
writeBin(as.vector(t(as.matrix(rec))), con, size = 8, endian = "little")
close(con)

# ------------------------------------------------------------------ the model

source("tools/reference/cli_design.R")

fit_case <- function(d, formula, factors = character(0), fw = NULL, rw = NULL,
                     intercept = TRUE, conf = 0.95, read = nrow(d)) {
  des <- cli_design(d, formula, factors, fw, rw, intercept)
  X <- des$X
  labels <- des$labels
  effects <- des$effects
  u <- des$u
  dep <- des$dep
  fwv <- des$fwv
  rwv <- des$rwv
  y <- u[[dep]]
  w <- fwv * rwv

  fit <- lm(y ~ 0 + X, weights = w)
  b <- unname(coef(fit))
  aliased <- is.na(b)
  kept <- integer(0)
  seq_alias <- logical(ncol(X))
  for (j in seq_len(ncol(X))) {
    if (qr(X[, c(kept, j), drop = FALSE], tol = 1e-9)$rank > length(kept)) kept <- c(kept, j)
    else seq_alias[j] <- TRUE
  }
  stopifnot(identical(aliased, seq_alias))

  rank <- sum(!aliased)
  W <- sum(fwv)
  df <- W - rank
  e <- y - X[, !aliased, drop = FALSE] %*% b[!aliased]
  rss <- sum(w * e^2)
  s2 <- rss / df
  est <- ifelse(aliased, 0, b)
  se <- rep(NA_real_, ncol(X))
  se[!aliased] <- sqrt(s2 * diag(summary(fit)$cov.unscaled))
  tv <- est / se
  sig <- 2 * pt(-abs(tv), df)
  q <- qt((1 + conf) / 2, df)
  tss <- if (intercept) sum(w * (y - sum(w * y) / sum(w))^2) else sum(w * y^2)

  list(dependent = dep, read = read, used = nrow(u), W = W, RW = sum(w),
       params = data.frame(label = labels, effect = effects, estimate = est,
                           redundant = aliased, se = se, t = tv,
                           df = ifelse(aliased, NA, df), sig = sig,
                           lo = est - q * se, hi = est + q * se, stringsAsFactors = FALSE),
       r_square = 1 - rss / tss, rmse = sqrt(rss / W), error_df = df)
}

# ------------------------------------------------------------------- JSON out

jstr <- function(s) sprintf("\"%s\"", gsub("\"", "\\\\\"", gsub("\\\\", "\\\\\\\\", s)))
jnum <- function(v) ifelse(is.na(v), "null", g17(v))
jarr <- function(v) sprintf("[%s]", paste(v, collapse = ", "))

case_json <- function(name, args, r, alt = character(0)) {
  p <- r$params
  prm <- sprintf(paste0("      {\"label\": %s, \"effect\": %s, \"estimate\": %s, \"redundant\": %s, ",
                        "\"std_error\": %s, \"t\": %s, \"df\": %s, \"sig\": %s, ",
                        "\"ci_lower\": %s, \"ci_upper\": %s}"),
                 sapply(p$label, jstr), sapply(p$effect, jstr), jnum(p$estimate),
                 ifelse(p$redundant, "true", "false"), jnum(p$se), jnum(p$t), jnum(p$df),
                 jnum(p$sig), jnum(ifelse(p$redundant, NA, p$lo)),
                 jnum(ifelse(p$redundant, NA, p$hi)))
  paste0("  {\"case\": ", jstr(name), ",\n",
         "   \"args\": ", jarr(sapply(args, jstr)), ",\n",
         "   \"alt_formulas\": ", jarr(sapply(alt, jstr)), ",\n",
         "   \"expected\": {\"dependent\": ", jstr(r$dependent),
         ", \"records\": {\"read\": ", r$read, ", \"used\": ", r$used, "}",
         ", \"total_frequency_weight\": ", g17(r$W),
         ", \"total_regression_weight\": ", g17(r$RW), ",\n",
         "    \"parameters\": [\n", paste(prm, collapse = ",\n"), "],\n",
         "    \"fit\": {\"r_square\": ", jnum(r$r_square), ", \"rmse\": ", jnum(r$rmse),
         ", \"error_df\": ", jnum(r$error_df), "}}}")
}

# -------------------------------------------------------------------- cases

dm <- read_back(file.path(out_dir, "cli_main.csv"))
stopifnot(identical(dm$A, main$A), nrow(dm) == n)
dmiss <- read_back(file.path(out_dir, "cli_missing.csv"))

cases <- list()
add <- function(name, data, formula, extra = character(0), r, alt = character(0)) {
  cases[[length(cases) + 1]] <<- case_json(name, c("--data", data, "--formula", formula, extra),
                                            r, alt)
}
add("interaction", "cli_main.csv", "y ~ A + B + A*B", c("--factors", "B"),
    fit_case(dm, "y ~ A + B + A*B", factors = "B"), alt = "y~A+B+A:B")
add("factor_by_covariate", "cli_main.csv", "y ~ A + x + A*x", character(0),
    fit_case(dm, "y ~ A + x + A*x"))
add("covariate_power", "cli_main.csv", "y ~ x + x*x + z", c("--confidence", "0.9"),
    fit_case(dm, "y ~ x + x*x + z", conf = 0.9))
add("nested", "cli_main.csv", "y ~ A + C(A)", character(0), fit_case(dm, "y ~ A + C(A)"))
add("covariate_within_factor", "cli_main.csv", "y ~ A + x(A)", character(0),
    fit_case(dm, "y ~ A + x(A)"))
add("frequency_weight", "cli_main.csv", "y ~ A + B + x", c("--factors", "B", "--freq-weight", "f"),
    fit_case(dm, "y ~ A + B + x", factors = "B", fw = "f"))
add("regression_weight", "cli_main.csv", "y ~ A + x + z", c("--regr-weight", "w"),
    fit_case(dm, "y ~ A + x + z", rw = "w"))
add("both_weights", "cli_main.csv", "y ~ B + z",
    c("--factors", "B", "--freq-weight", "f", "--regr-weight", "w"),
    fit_case(dm, "y ~ B + z", factors = "B", fw = "f", rw = "w"))
add("no_intercept", "cli_main.csv", "y ~ A + x", "--no-intercept",
    fit_case(dm, "y ~ A + x", intercept = FALSE))
add("aliased_covariate", "cli_main.csv", "y ~ x + z + s", character(0),
    fit_case(dm, "y ~ x + z + s"))
add("missing_values", "cli_missing.csv", "y ~ A + x + A*x", character(0),
    fit_case(dmiss, "y ~ A + x + A*x"))
add("binary_records", "cli_records.bin", "y ~ a + b + a*b + x", c("--columns", "y,a,b,x", "--factors", "a,b"),
    fit_case(rec, "y ~ a + b + a*b + x", factors = c("a", "b")))

writeLines(c("[", paste(unlist(cases), collapse = ",\n"), "]"),
           file.path(out_dir, "cli_cases.json"))

# Golden end-to-end results of `mcreg logistic`, computed in R.
#
# Writes the data file the command-line tests read and, for every case, the
# command arguments and the expected --json values:
#   tests/golden/cli_logistic.csv         a text response with three
#       categories, a binary one, a text factor, a numeric factor, a
#       covariate, frequency weights (one of them 0) and missing cells
#   tests/golden/cli_logistic_cases.json  the cases
# Run from the repository root:
#   Rscript tools/reference/cli_logistic_golden.R
#
# The design and labels are the program's (cli_design.R); the fits are
# nnet::multinom or glm(binomial) refined to the maximum (mlogit.R). Per
# parameter: Wald = (B / SE)^2 on 1 df, Exp(B) and its interval
# exp(B -/+ z SE). The model-fitting test compares the final log-likelihood
# with the intercept-only one, sum_k n_k ln(n_k / W), on the number of
# estimated parameters less the intercepts; the pseudo R-squares are Cox and
# Snell's 1 - exp(2 (l0 - l) / W), Nagelkerke's that over 1 - exp(2 l0 / W)
# and McFadden's 1 - l / l0.

source("tools/reference/common.R")
source("tools/reference/cli_design.R")
source("tools/reference/mlogit.R")

out_dir <- "tests/golden"

set.seed(20261205)
n <- 240
A <- sample(c("north", "south, east", "west"), n, TRUE)
B <- sample(c(3, 20, 100), n, TRUE)
x <- round(rnorm(n), 3)
eta1 <- 0.4 + 0.7 * x - 0.8 * (A == "west") + 0.004 * B
eta2 <- -0.3 - 0.5 * x + 0.6 * (A == "north") - 0.006 * B
p <- cbind(exp(eta1), exp(eta2), 1)
p <- p / rowSums(p)
y <- apply(p, 1, function(r) c("apple", "banana", "cherry pie")[sample.int(3, 1, prob = r)])
z <- ifelse(runif(n) < plogis(0.3 - 0.9 * x + 0.5 * (A == "west")), "yes", "no")
f <- sample(1:4, n, TRUE)
f[7] <- 0 # not a positive weight: the record is left out
d <- data.frame(y = y, z = z, A = A, B = B, x = x, f = f, stringsAsFactors = FALSE)
d$y[c(11, 45)] <- NA
d$x[c(23, 99)] <- NA
d$A[60] <- NA
write.csv(d, file.path(out_dir, "cli_logistic.csv"), row.names = FALSE, na = "")
dr <- read_back(file.path(out_dir, "cli_logistic.csv"))
stopifnot(isTRUE(all.equal(dr$x, d$x)), identical(dr$A, d$A))

jstr <- function(s) sprintf("\"%s\"", gsub("\"", "\\\\\"", gsub("\\\\", "\\\\\\\\", s)))
jnum <- function(v) ifelse(is.na(v), "null", sprintf("%.17g", v))
jarr <- function(v) sprintf("[%s]", paste(v, collapse = ", "))

logistic_case <- function(name, formula, extra = character(0), factors = character(0),
                          fw = NULL, reference = "last", intercept = TRUE, conf = 0.95) {
  des <- cli_design(dr, formula, factors, fw, NULL, intercept)
  u <- des$u
  w <- des$fwv
  resp <- u[[des$dep]]
  categories <- sorted_levels(resp)
  codes <- match(resp, categories) - 1
  J <- length(categories)
  ref <- if (reference == "last") J - 1 else if (reference == "first") 0 else
    match(reference, categories) - 1
  order <- c(setdiff(0:(J - 1), ref), ref)
  keep <- integer(0)
  for (j in seq_len(ncol(des$X))) {
    Xw <- des$X[, c(keep, j), drop = FALSE] * sqrt(w)
    if (qr(Xw, tol = 1e-9)$rank == length(keep) + 1) keep <- c(keep, j)
  }
  fit <- mlogit_fit(des$X[, keep, drop = FALSE], codes, w, order)
  q <- ncol(des$X)
  L <- J - 1
  z <- qnorm((1 + conf) / 2)
  prm <- character(0)
  for (k in seq_len(L)) for (j in seq_len(q)) {
    at <- match(j, keep)
    redundant <- is.na(at)
    b <- if (redundant) 0 else fit$beta[(k - 1) * length(keep) + at]
    se <- if (redundant) NA else sqrt(fit$V[(k - 1) * length(keep) + at,
                                              (k - 1) * length(keep) + at])
    wald <- (b / se)^2
    prm <- c(prm, sprintf(paste0(
      "      {\"target\": %s, \"label\": %s, \"effect\": %s, \"estimate\": %s, ",
      "\"redundant\": %s, \"std_error\": %s, \"wald\": %s, \"df\": %s, \"sig\": %s, ",
      "\"exp_b\": %s, \"ci_lower\": %s, \"ci_upper\": %s}"),
      jstr(categories[order[k] + 1]), jstr(des$labels[j]), jstr(des$effects[j]), jnum(b),
      if (redundant) "true" else "false", jnum(se), jnum(wald), if (redundant) 0 else 1,
      jnum(pchisq(wald, 1, lower.tail = FALSE)), jnum(if (redundant) NA else exp(b)),
      jnum(exp(b - z * se)), jnum(exp(b + z * se))))
  }
  W <- sum(w)
  nk <- sapply(0:(J - 1), function(k) sum(w[codes == k]))
  ll0 <- if (intercept) sum(nk * log(nk / W)) else W * log(1 / J)
  ll <- fit$ll
  df <- L * length(keep) - (if (intercept) L else 0)
  chi <- 2 * (ll - ll0)
  cs <- 1 - exp(2 * (ll0 - ll) / W)
  args <- c("--data", "cli_logistic.csv", "--formula", formula, extra)
  paste0("  {\"case\": ", jstr(name), ",\n",
         "   \"args\": ", jarr(sapply(args, jstr)), ",\n",
         "   \"expected\": {\"dependent\": ", jstr(des$dep),
         ", \"categories\": ", jarr(sapply(categories, jstr)),
         ", \"reference_category\": ", jstr(categories[ref + 1]),
         ", \"records\": {\"read\": ", nrow(dr), ", \"used\": ", nrow(u), "}",
         ", \"total_frequency_weight\": ", jnum(W),
         ", \"category_weights\": ", jarr(jnum(nk)), ",\n",
         "    \"parameters\": [\n", paste(prm, collapse = ",\n"), "],\n",
         "    \"fit\": {\"loglik_initial\": ", jnum(ll0), ", \"loglik_final\": ", jnum(ll),
         ", \"chi_square\": ", jnum(chi), ", \"df\": ", df,
         ", \"sig\": ", jnum(pchisq(chi, df, lower.tail = FALSE)),
         ", \"cox_snell\": ", jnum(cs), ", \"nagelkerke\": ", jnum(cs / (1 - exp(2 * ll0 / W))),
         ", \"mcfadden\": ", jnum(1 - ll / ll0), ", \"converged\": true}}}")
}

cases <- c(
  logistic_case("weighted_factors", "y ~ A + B", c("--factors", "B", "--freq-weight", "f"),
                factors = "B", fw = "f"),
  logistic_case("factor_by_covariate_first", "y ~ A + x + A*x", c("--reference", "first"),
                reference = "first"),
  logistic_case("reference_text", "y ~ A + x", c("--reference", "banana"),
                reference = "banana"),
  logistic_case("binary", "z ~ A + x", c("--freq-weight", "f"), fw = "f"),
  logistic_case("binary_no_intercept", "z ~ x", c("--no-intercept", "--confidence", "0.9"),
                intercept = FALSE, conf = 0.9))
writeLines(c("[", paste(cases, collapse = ",\n"), "]"),
           file.path(out_dir, "cli_logistic_cases.json"))

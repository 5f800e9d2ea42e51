# Golden end-to-end results of robust covariances (--vcov) for `mcreg glm`,
# computed in R with sandwich::vcovHC on lm, car::Anova(type = 3, vcov. = )
# and emmeans on a fit whose covariance is the robust one.
#
# Writes tests/golden/cli_cluster.csv, data with a cluster column g (some
# of its cells empty), and tests/golden/cli_robust_cases.json: per case the command arguments
# and the expected parameter table, covariance matrix of the estimates of
# the parameters that are not redundant (--covariance), and where asked the
# "tests" and "emmeans" members of the --json document.
# Run from the repository root:
#   Rscript tools/reference/cli_robust.R
#
# The parameter tables use the program's over-parametrised design
# (cli_design.R): lm drops the aliased columns, as vcovHC does. Frequency
# weights are replication counts, so the records are repeated; regression
# weights are lm's weights. The tests and marginal means use the usual
# factor coding (sum-to-zero for Type III): a robust covariance of estimable
# functions does not depend on the coding.

source("tools/reference/cli_design.R")
suppressPackageStartupMessages({
  library(sandwich)
  library(car)
  library(emmeans)
})
emm_options(opt.digits = FALSE)
out_dir <- "tests/golden"
level <- 0.95

# The JSON writer and the marginal-means calculator of cli_analyses.R:
# its function definitions only.
for (e in parse("tools/reference/cli_analyses.R")) {
  if (is.call(e) && identical(e[[1]], as.name("<-")) && is.call(e[[3]]) &&
      identical(e[[3]][[1]], as.name("function"))) eval(e)
}

main_data <- read_back(file.path(out_dir, "cli_main.csv"))
anova_data <- read_back(file.path(out_dir, "cli_anova.csv"))

# Clusters of unequal sizes, three records without one.
set.seed(20261206)
nc <- 64
cluster_data <- data.frame(
  y = 0, A = sample(c("p", "q", "r"), nc, TRUE), x = round(runif(nc, 0, 10), 2),
  g = sprintf("k%02d", sample(1:11, nc, TRUE, prob = 1:11)), f = sample(1:3, nc, TRUE),
  w = round(runif(nc, 0.5, 2), 3), stringsAsFactors = FALSE)
shock <- setNames(rnorm(11, 0, 1.5), sprintf("k%02d", 1:11))
cluster_data$y <- round(10 + c(p = 0, q = 1.2, r = -0.7)[cluster_data$A] +
                          0.4 * cluster_data$x + shock[cluster_data$g] +
                          rnorm(nc, 0, 0.3 + 0.1 * cluster_data$x), 3)
cluster_data$g[c(5, 17, 40)] <- NA
# A second, crossed grouping for two-way clusters.
cluster_data$h <- sprintf("m%d", sample(1:6, nc, TRUE))
write.csv(cluster_data, file.path(out_dir, "cli_cluster.csv"), row.names = FALSE, na = "")
cluster_data <- read_back(file.path(out_dir, "cli_cluster.csv"))

# The parameter table and covariance under vcovHC(type), or vcovCL(type =
# "HC1") with a cluster column (then tests on clusters - 1 df).
robust_params <- function(d, formula, type, factors = character(0), fw = NULL, rw = NULL,
                          cluster = NULL) {
  for (cl in cluster) d <- d[!is.na(d[[cl]]), , drop = FALSE]
  des <- cli_design(d, formula, factors, fw, rw, TRUE)
  rep_rows <- rep(seq_len(nrow(des$X)), des$fwv)
  X <- des$X[rep_rows, , drop = FALSE]
  y <- des$u[[des$dep]][rep_rows]
  w <- des$rwv[rep_rows]
  fit <- lm(y ~ 0 + X, weights = w)
  b <- unname(coef(fit))
  aliased <- is.na(b)
  if (is.null(cluster)) {
    V <- unname(vcovHC(fit, type = toupper(type)))
    df <- fit$df.residual
  } else {
    g <- des$u[rep_rows, cluster, drop = FALSE]
    V <- unname(vcovCL(fit, cluster = g, type = "HC1", fix = length(cluster) > 1))
    groups <- sapply(cluster, function(cl) length(unique(g[[cl]])))
    df <- min(groups) - 1
  }
  est <- ifelse(aliased, 0, b)
  se <- rep(NA_real_, ncol(X))
  se[!aliased] <- sqrt(diag(V))
  tv <- est / se
  q <- qt((1 + level) / 2, df)
  params <- lapply(seq_len(ncol(X)), function(k) list(
    label = des$labels[k], redundant = aliased[k], estimate = est[k], std_error = se[k],
    t = tv[k], df = if (aliased[k]) NA else df, sig = 2 * pt(-abs(tv[k]), df),
    ci_lower = if (aliased[k]) NA else est[k] - q * se[k],
    ci_upper = if (aliased[k]) NA else est[k] + q * se[k]))
  vcov <- if (is.null(cluster)) list(type = type) else
    list(type = "cluster", columns = as.list(cluster), groups = as.list(unname(groups)))
  list(vcov = vcov, parameters = params,
       covariance = lapply(seq_len(nrow(V)), function(i) arr(V[i, ])))
}

# An lm whose vcov() is a robust covariance, for emmeans; with clusters
# its df are the clusters' less one.
robust_lm <- function(fit, type, cluster = NULL) {
  if (is.null(cluster)) {
    fit$robust_vcov <- vcovHC(fit, type = toupper(type))
  } else {
    fit$robust_vcov <- vcovCL(fit, cluster = cluster, type = "HC1")
    fit$df.residual <- length(unique(cluster)) - 1
  }
  class(fit) <- c("robust_lm", class(fit))
  fit
}
vcov.robust_lm <- function(object, ...) object$robust_vcov

# Type III Wald F tests with the robust covariance; the corrected model is
# the joint test of every coefficient but the intercept.
# With clusters F is car's (W / q) and its p-value on clusters - 1 df.
robust_tests <- function(u, rhs, factors, type, cluster = NULL) {
  f <- as.formula(paste("y ~", rhs))
  sum_to_zero <- setNames(rep(list("contr.sum"), length(factors)), factors)
  fit3 <- lm(f, data = u, contrasts = sum_to_zero)
  V <- if (is.null(cluster)) vcovHC(fit3, type = toupper(type)) else
    vcovCL(fit3, cluster = cluster, type = "HC1")
  df2 <- if (is.null(cluster)) fit3$df.residual else length(unique(cluster)) - 1
  a3 <- suppressMessages(Anova(fit3, type = 3, vcov. = V))
  row <- function(term, df, F)
    list(term = term, df = df, ss = NA, mean_square = NA, F = F,
         sig = pf(F, df, df2, lower.tail = FALSE))
  rows <- list()
  for (t in setdiff(rownames(a3), "Residuals"))
    rows[[length(rows) + 1]] <- row(if (t == "(Intercept)") "Intercept" else program_term(t),
                                    a3[t, "Df"], a3[t, "F"])
  lh <- linearHypothesis(fit3, names(coef(fit3))[-1], vcov. = V, test = "F")
  rss <- sum(resid(fit3)^2)
  dfe <- fit3$df.residual
  out <- list()
  out["type1"] <- list(NULL)
  out$type3 <- rows
  out$corrected_model <- row("Corrected model", lh$Df[2], lh$F[2])
  out$error <- list(df = dfe, ss = rss, mean_square = rss / dfe)
  out
}

cases <- list()
add_case <- function(name, data, args, expected) {
  cases[[length(cases) + 1]] <<- list(case = name, args = arr(c("--data", data, args)),
                                      expected = expected)
}

for (type in c("hc0", "hc1", "hc2", "hc3"))
  add_case(paste0("interaction_", type), "cli_main.csv",
           c("--formula", "y ~ A + B + A*B", "--factors", "B", "--vcov", type),
           robust_params(main_data, "y ~ A + B + A*B", type, factors = "B"))
add_case("covariate_by_factor_hc3", "cli_main.csv",
         c("--formula", "y ~ A + x + A*x", "--vcov", "hc3"),
         robust_params(main_data, "y ~ A + x + A*x", "hc3"))
for (type in c("hc1", "hc3"))
  add_case(paste0("frequency_weight_", type), "cli_main.csv",
           c("--formula", "y ~ A + B + x", "--factors", "B", "--freq-weight", "f", "--vcov", type),
           robust_params(main_data, "y ~ A + B + x", type, factors = "B", fw = "f"))
for (type in c("hc0", "hc2"))
  add_case(paste0("regression_weight_", type), "cli_main.csv",
           c("--formula", "y ~ A + x + z", "--regr-weight", "w", "--vcov", type),
           robust_params(main_data, "y ~ A + x + z", type, rw = "w"))
add_case("both_weights_hc3", "cli_main.csv",
         c("--formula", "y ~ B + z", "--factors", "B", "--freq-weight", "f", "--regr-weight", "w",
           "--vcov", "hc3"),
         robust_params(main_data, "y ~ B + z", "hc3", factors = "B", fw = "f", rw = "w"))

# Tests and marginal means with a robust covariance.
ua <- glm_data(anova_data, c("y", "diet", "dose", "x"), c("diet", "dose"))
fit_cov <- robust_lm(lm(y ~ diet + dose + x + diet:dose, data = ua), "hc3")
add_case("analyses_hc3", "cli_anova.csv",
         c("--formula", "y ~ diet + dose + x + diet*dose", "--factors", "dose", "--vcov", "hc3",
           "--tests", "3", "--emmeans", "diet*dose", "--compare", "dose", "--adjust",
           "bonferroni"),
         c(robust_params(anova_data, "y ~ diet + dose + x + diet*dose", "hc3", factors = "dose"),
           list(tests = robust_tests(ua, "diet + dose + x + diet:dose", c("diet", "dose"), "hc3"),
                emmeans = list(glm_emmeans(fit_cov, ua, "diet*dose", c("diet", "dose"), "dose",
                                           "bonferroni", covariates = "x")))))
uf <- glm_data(anova_data, c("y", "diet", "dose"), c("diet", "dose"), fw = "f")
fit_fw <- robust_lm(lm(y ~ diet + dose + diet:dose, data = uf), "hc1")
add_case("analyses_frequency_weight_hc1", "cli_anova.csv",
         c("--formula", "y ~ diet + dose + diet*dose", "--factors", "dose", "--freq-weight", "f",
           "--vcov", "hc1", "--tests", "3", "--emmeans", "diet"),
         c(robust_params(anova_data, "y ~ diet + dose + diet*dose", "hc1", factors = "dose",
                         fw = "f"),
           list(tests = robust_tests(uf, "diet + dose + diet:dose", c("diet", "dose"), "hc1"),
                emmeans = list(glm_emmeans(fit_fw, uf, "diet", "diet", "diet", "none")))))

# One-way clusters: records without a cluster are left out.
for (spec in list(list(name = "cluster", extra = character(0), fw = NULL, rw = NULL),
                  list(name = "cluster_frequency_weight", extra = c("--freq-weight", "f"),
                       fw = "f", rw = NULL),
                  list(name = "cluster_regression_weight", extra = c("--regr-weight", "w"),
                       fw = NULL, rw = "w")))
  add_case(spec$name, "cli_cluster.csv",
           c("--formula", "y ~ A + x + A*x", "--cluster", "g", spec$extra),
           robust_params(cluster_data, "y ~ A + x + A*x", "cluster", fw = spec$fw, rw = spec$rw,
                         cluster = "g"))
# Two-way: g and h crossed (Cameron, Gelbach and Miller), negative
# eigenvalues of the result set to 0.
for (spec in list(list(name = "two_way", extra = character(0), fw = NULL),
                  list(name = "two_way_frequency_weight", extra = c("--freq-weight", "f"),
                       fw = "f")))
  add_case(spec$name, "cli_cluster.csv",
           c("--formula", "y ~ A + x + A*x", "--cluster", "g", "h", spec$extra),
           robust_params(cluster_data, "y ~ A + x + A*x", "cluster", fw = spec$fw,
                         cluster = c("g", "h")))
uc <- glm_data(cluster_data, c("y", "A", "x", "g"), "A", fw = "f")
fit_cl <- robust_lm(lm(y ~ A + x, data = uc), "cluster", cluster = uc$g)
add_case("analyses_cluster", "cli_cluster.csv",
         c("--formula", "y ~ A + x", "--cluster", "g", "--freq-weight", "f", "--tests", "3",
           "--emmeans", "A", "--adjust", "sidak"),
         c(robust_params(cluster_data, "y ~ A + x", "cluster", fw = "f", cluster = "g"),
           list(tests = robust_tests(uc, "A + x", "A", "cluster", cluster = uc$g),
                emmeans = list(glm_emmeans(fit_cl, uc, "A", "A", "A", "sidak",
                                           covariates = "x")))))

writeLines(c("[", paste(vapply(cases, to_json, ""), collapse = ",\n"), "]"),
           file.path(out_dir, "cli_robust_cases.json"))

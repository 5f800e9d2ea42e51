# Golden end-to-end results of the analyses after a fit of `mcreg glm` on
# models with many parameters, computed in R: a factor of many levels
# crossed with a small one, and many covariates next to a small factor.
#
# Writes
#   tests/golden/cli_large_factor.csv      y, G (150 levels g001..g150), B
#       (b1, b2) and a covariate x; every G x B cell observed, from 1 to 9
#       records each (unbalanced)
#   tests/golden/cli_many_covariates.csv   y, a factor F (4 levels) and 60
#       correlated covariates x1..x60
#   tests/golden/cli_analyses_large_cases.json  per case the command
#       arguments, the expected "tests" member of the --json document, the
#       number of marginal means, the rows of emmeans[0].means of a few
#       levels and emmeans[0].covariates_at
# Run from the repository root:
#   Rscript tools/reference/cli_analyses_large.R
#
# Type I: anova(lm) (the intercept row, which anova leaves out, is
# n ybar^2 tested against the error mean square); Type III:
# car::Anova(type = 3) with sum-to-zero contrasts; the corrected model: the
# overall F of summary(lm). Marginal means: emmeans with the covariates at
# their means.
#
# The G x B design is complete on purpose. With empty cells car tests the
# coefficients that are not aliased, a hypothesis that for the main effects
# is not the one of the program's Type III estimable functions, so car is
# no reference there.

source("tools/reference/cli_design.R")
suppressPackageStartupMessages({
  library(car)
  library(emmeans)
})
emm_options(opt.digits = FALSE)
out_dir <- "tests/golden"
level <- 0.95
# Rounded values go through their text form so that R fits exactly the
# doubles the program reads.
short <- function(v, digits = 6) as.numeric(sprintf(paste0("%.", digits, "g"), v))

# ---------------------------------------------------------------- the data

set.seed(20261206)
ng <- 150
g_levels <- sprintf("g%03d", seq_len(ng))
b_levels <- c("b1", "b2")
grid <- expand.grid(G = g_levels, B = b_levels, stringsAsFactors = FALSE)
reps <- sample(1:9, nrow(grid), replace = TRUE)
d <- grid[rep(seq_len(nrow(grid)), reps), ]
d <- d[sample(nrow(d)), ]
n <- nrow(d)
g_eff <- setNames(rnorm(ng, 0, 2), g_levels)
b_eff <- c(b1 = 0, b2 = 1.5)
gb_eff <- rnorm(nrow(grid), 0, 0.7)
cell <- match(paste(d$G, d$B), paste(grid$G, grid$B))
d$x <- short(runif(n, 0, 10), 4)
d$y <- short(50 + g_eff[d$G] + b_eff[d$B] + gb_eff[cell] + 0.3 * d$x + rnorm(n, 0, 1.5))
d <- d[, c("y", "G", "B", "x")]
rownames(d) <- NULL
write.csv(d, file.path(out_dir, "cli_large_factor.csv"), row.names = FALSE)

nc <- 60
m <- 500
z <- matrix(rnorm(m * (nc + 1)), m, nc + 1)
# Neighbouring covariates share a component, so the sequential and the
# partial sums of squares differ.
X <- z[, -1] + 0.6 * z[, -(nc + 1)]
X <- apply(X, 2, short, digits = 5)
colnames(X) <- paste0("x", seq_len(nc))
f_levels <- c("north", "east", "south", "west")
fac <- sample(f_levels, m, replace = TRUE, prob = c(0.4, 0.3, 0.2, 0.1))
beta <- c(rnorm(nc / 2, 0, 0.5), rep(0, nc / 2))
y <- short(10 + c(north = 0, east = 0.6, south = -0.4, west = 1.1)[fac] + X %*% beta +
             rnorm(m, 0, 2))
dc <- data.frame(y = y, F = fac, X, stringsAsFactors = FALSE)
write.csv(dc, file.path(out_dir, "cli_many_covariates.csv"), row.names = FALSE)

large <- read_back(file.path(out_dir, "cli_large_factor.csv"))
many <- read_back(file.path(out_dir, "cli_many_covariates.csv"))

# ------------------------------------------------------------- JSON writer

# Named lists are objects, unnamed lists arrays; a number or string must be
# a scalar (NA is null).
to_json <- function(x) {
  if (is.null(x)) return("null")
  if (is.list(x)) {
    if (!is.null(names(x))) {
      parts <- mapply(function(k, v) paste0(jstr(k), ": ", to_json(v)), names(x), x)
      return(paste0("{", paste(parts, collapse = ", "), "}"))
    }
    return(paste0("[", paste(vapply(x, to_json, ""), collapse = ", "), "]"))
  }
  stopifnot(length(x) == 1)
  if (is.character(x)) return(jstr(x))
  if (is.na(x) || !is.finite(x)) return("null")
  sprintf("%.17g", x)
}
jstr <- function(s) sprintf("\"%s\"", gsub("\"", "\\\\\"", gsub("\\\\", "\\\\\\\\", s)))
arr <- function(v) as.list(unname(v))
named <- function(names, values) setNames(as.list(values), names)

# --------------------------------------------------------- the calculators

# Factors with the program's sorted levels.
as_factors <- function(u, factors) {
  for (f in factors) {
    lv <- sorted_levels(u[[f]])
    u[[f]] <- factor(u[[f]], levels = lv, labels = sapply(lv, level_text))
  }
  u
}

program_term <- function(t) gsub(":", "*", t, fixed = TRUE)

tests_of <- function(u, rhs, factors) {
  f <- as.formula(paste("y ~", rhs))
  fit <- lm(f, data = u)
  rss <- sum(resid(fit)^2)
  dfe <- fit$df.residual
  mse <- rss / dfe
  row <- function(term, df, ss, F, p)
    list(term = term, df = df, ss = ss, mean_square = ss / df, F = F, sig = p)
  a1 <- anova(fit)
  ss0 <- nrow(u) * mean(u$y)^2
  type1 <- list(row("Intercept", 1, ss0, ss0 / mse, pf(ss0 / mse, 1, dfe, lower.tail = FALSE)))
  for (t in setdiff(rownames(a1), "Residuals"))
    type1[[length(type1) + 1]] <- row(program_term(t), a1[t, "Df"], a1[t, "Sum Sq"],
                                      a1[t, "F value"], a1[t, "Pr(>F)"])
  sum_to_zero <- setNames(rep(list("contr.sum"), length(factors)), factors)
  a3 <- Anova(lm(f, data = u, contrasts = sum_to_zero), type = 3)
  type3 <- list()
  for (t in setdiff(rownames(a3), "Residuals"))
    type3[[length(type3) + 1]] <- row(if (t == "(Intercept)") "Intercept" else program_term(t),
                                      a3[t, "Df"], a3[t, "Sum Sq"], a3[t, "F value"],
                                      a3[t, "Pr(>F)"])
  fs <- summary(fit)$fstatistic
  ssm <- sum((u$y - mean(u$y))^2) - rss
  list(type1 = type1, type3 = type3,
       corrected_model = row("Corrected model", fs[["numdf"]], ssm, fs[["value"]],
                             pf(fs[["value"]], fs[["numdf"]], fs[["dendf"]], lower.tail = FALSE)),
       error = list(df = dfe, ss = rss, mean_square = mse))
}

# The marginal means of one factor at the given levels.
means_of <- function(fit, factor, at) {
  s <- as.data.frame(summary(emmeans(fit, specs = factor)))
  s <- s[match(at, as.character(s[[factor]])), ]
  lapply(seq_len(nrow(s)), function(i) list(
    levels = named(factor, as.character(s[i, factor])), mean = s$emmean[i], se = s$SE[i],
    df = s$df[i], lower = s$lower.CL[i], upper = s$upper.CL[i]))
}

# ---------------------------------------------------------------- cases

cases <- list()
add_case <- function(name, data, args, expected) {
  cases[[length(cases) + 1]] <<- list(case = name, args = arr(c("--data", data, args)),
                                      expected = expected)
}

# A factor of 150 levels crossed with one of 2, and a covariate (454
# parameters).
ul <- as_factors(large, c("G", "B"))
fit_l <- lm(y ~ G + B + x + G:B, data = ul)
g_at <- c("g001", "g002", "g077", "g149", "g150")
add_case("large_factor", "cli_large_factor.csv",
         c("--formula", "y ~ G + B + x + G*B", "--tests", "1,3", "--emmeans", "G"),
         list(tests = tests_of(ul, "G + B + x + G:B", c("G", "B")),
              means_count = nlevels(ul$G), means = means_of(fit_l, "G", g_at),
              covariates_at = list(x = mean(ul$x))))

# 60 covariates and a factor, the factor entered last.
um <- as_factors(many, "F")
rhs_m <- paste(c(colnames(X), "F"), collapse = " + ")
fit_m <- lm(as.formula(paste("y ~", rhs_m)), data = um)
add_case("many_covariates", "cli_many_covariates.csv",
         c("--formula", paste("y ~", rhs_m), "--tests", "1,3", "--emmeans", "F"),
         list(tests = tests_of(um, rhs_m, "F"),
              means_count = nlevels(um$F), means = means_of(fit_m, "F", levels(um$F)),
              covariates_at = named(colnames(X), colMeans(um[, colnames(X)]))))

writeLines(c("[", paste(vapply(cases, to_json, ""), collapse = ",\n"), "]"),
           file.path(out_dir, "cli_analyses_large_cases.json"))

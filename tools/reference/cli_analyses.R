# Golden end-to-end results of the analyses after a fit: the tests of model
# effects (--tests) and the estimated marginal means with their pairwise
# comparisons and contrasts (--emmeans), for `mcreg glm` and `mcreg
# logistic`, computed in R.
#
# Writes
#   tests/golden/cli_anova.csv            an unbalanced, complete 3 x 3 design
#       (diet: text, dose: numbers 1, 2, 4) with a covariate and
#       frequency weights
#   tests/golden/cli_analyses_cases.json  per case the command arguments and
#       the expected "tests" and "emmeans" members of the --json document
# Run from the repository root:
#   Rscript tools/reference/cli_analyses.R
#
# General linear model. Type I: anova(lm) (the intercept row, which anova
# leaves out, is W ybar^2 tested against the error mean square); Type III:
# car::Anova(type = 3) with sum-to-zero contrasts (complete designs only);
# the corrected model: the overall F of summary(lm). Frequency weights are
# replication counts, so the records are repeated. Marginal means, pairs and
# contrasts: emmeans (covariates at their means), with the pairs and
# contrast rows given as explicit coefficients so that every row is known,
# and the joint test of a contrast from test(joint = TRUE); Holm's step-down
# from emmeans, the step-down Sidak from the unadjusted p-values. With an
# empty cell emmeans calls the marginal means non-estimable; the program's
# mean of a marginal cell is then the plain average of the observed cells in
# it, computed here from emmeans' cell rows.
#
# Logistic model (the fits refined to the maximum, mlogit.R, on a
# sum-to-zero parametrisation): Type III Wald chi-square of each term's
# coefficients in all logits; Type I: the sequential hypotheses
# X_e' W (I - P_before) X b = 0 of the frequency-weighted design (W the
# weights, P_before the W-projection on the terms before e), which do not
# depend on the parametrisation; marginal logits from emmeans' rows of an
# lm with the same design applied to each logit's coefficients, z tests.
# A binary model's logits and probabilities come from emmeans on
# glm(binomial) (type = "response", regrid for differences of
# probabilities).

source("tools/reference/common.R")
source("tools/reference/cli_design.R")
source("tools/reference/mlogit.R")
suppressPackageStartupMessages({
  library(car)
  library(emmeans)
})
emm_options(opt.digits = FALSE)
out_dir <- "tests/golden"
level <- 0.95

# ---------------------------------------------------------------- the data

set.seed(20261210)
diets <- c("control", "high fat", "low-carb")
doses <- c(1, 2, 4)
grid <- expand.grid(diet = diets, dose = doses, stringsAsFactors = FALSE)
reps <- c(2, 3, 4, 3, 2, 5, 4, 3, 3)
d <- grid[rep(seq_len(nrow(grid)), reps), ]
d <- d[sample(nrow(d)), ]
n <- nrow(d)
d$x <- round(runif(n, 10, 30), 1)
effect <- c(control = 0, "high fat" = 2.5, "low-carb" = -1.5)[d$diet] +
  c(0, 1.8, 2.6)[match(d$dose, doses)] + ifelse(d$diet == "high fat" & d$dose == 4, 1.2, 0)
d$y <- round(30 + effect + 0.15 * d$x + rnorm(n, 0, 1.2), 2)
d$f <- sample(1:3, n, TRUE)
d <- d[, c("y", "diet", "dose", "x", "f")]
rownames(d) <- NULL
write.csv(d, file.path(out_dir, "cli_anova.csv"), row.names = FALSE)
anova_data <- read_back(file.path(out_dir, "cli_anova.csv"))
main_data <- read_back(file.path(out_dir, "cli_main.csv"))
logistic_data <- read_back(file.path(out_dir, "cli_logistic.csv"))

# ------------------------------------------------------------- JSON writer

# Named lists are objects, unnamed lists arrays; a number or string must be
# a scalar (NA is null). arr() makes an array of a vector.
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
  if (is.logical(x)) return(if (is.na(x)) "null" else if (x) "true" else "false")
  if (is.na(x) || !is.finite(x)) return("null")
  sprintf("%.17g", x)
}
jstr <- function(s) sprintf("\"%s\"", gsub("\"", "\\\\\"", gsub("\\\\", "\\\\\\\\", s)))
arr <- function(v) as.list(unname(v))
obj <- function() setNames(list(), character(0))

# ------------------------------------------------------ shared calculators

# The step-down Sidak adjustment (Holm's scheme with Sidak's steps).
stepdown_sidak <- function(p) {
  k <- length(p)
  o <- order(p)
  adj <- numeric(k)
  prev <- 0
  for (j in seq_len(k)) {
    v <- min(1, max(0, 1 - (1 - p[o[j]])^(k - j + 1)))
    prev <- max(prev, v)
    adj[o[j]] <- prev
  }
  adj
}

adjust_p <- function(p, method) {
  switch(method,
         none = p,
         bonferroni = pmin(1, length(p) * p),
         sidak = 1 - (1 - p)^length(p),
         holm = p.adjust(p, "holm"),
         "stepdown-sidak" = stepdown_sidak(p))
}

# The critical value of simultaneous intervals for k comparisons; NA for the
# step-down methods, which define none.
critical <- function(method, k, df) {
  q <- switch(method,
              none = 1 - (1 - level) / 2,
              bonferroni = 1 - (1 - level) / (2 * k),
              sidak = (1 + level^(1 / k)) / 2,
              NA)
  if (is.na(q)) NA else if (is.finite(df)) qt(q, df) else qnorm(q)
}

# Contrast coefficients over k levels, written from their definitions.
contrast_matrix <- function(type, k, ref = k, metric = seq_len(k)) {
  switch(type,
         simple = {
           C <- matrix(0, k - 1, k)
           others <- setdiff(seq_len(k), ref)
           for (i in seq_along(others)) C[i, c(others[i], ref)] <- c(1, -1)
           C
         },
         deviation = diag(k) - 1 / k,
         helmert = t(sapply(seq_len(k - 1), function(i)
           c(rep(0, i - 1), 1, rep(-1 / (k - i), k - i)))),
         difference = t(sapply(seq_len(k - 1), function(i)
           c(rep(-1 / i, i), 1, rep(0, k - i - 1)))),
         repeated = t(sapply(seq_len(k - 1), function(i) {
           r <- rep(0, k)
           r[c(i, i + 1)] <- c(1, -1)
           r
         })),
         polynomial = t(contr.poly(k, scores = metric)))
}

contrast_names <- function(type, levels, ref = length(levels)) {
  k <- length(levels)
  mean_of <- function(v) if (length(v) == 1) v else paste0("mean(", paste(v, collapse = ", "), ")")
  switch(type,
         simple = paste(levels[-ref], "-", levels[ref]),
         deviation = paste(levels, "- mean"),
         helmert = sapply(seq_len(k - 1), function(i) paste(levels[i], "-", mean_of(levels[(i + 1):k]))),
         difference = sapply(seq_len(k - 1), function(i) paste(levels[i + 1], "-", mean_of(levels[1:i]))),
         repeated = paste(levels[-k], "-", levels[-1]),
         polynomial = c("linear", "quadratic", "cubic", "quartic")[seq_len(k - 1)])
}

# The ordered pairs the program lists: each level against every other.
ordered_pairs <- function(k) {
  do.call(rbind, lapply(seq_len(k), function(i) cbind(i, setdiff(seq_len(k), i))))
}

named <- function(names, values) setNames(as.list(values), names)

# --------------------------------------------------------- general linear

# The records as the program uses them, repeated by their frequency weight,
# factors with the program's sorted levels and texts.
glm_data <- function(d, vars, factors, fw = NULL) {
  u <- d[complete.cases(d[, c(vars, fw)]), , drop = FALSE]
  if (!is.null(fw)) {
    u <- u[u[[fw]] > 0, , drop = FALSE]
    u <- u[rep(seq_len(nrow(u)), u[[fw]]), , drop = FALSE]
  }
  for (f in factors) {
    lv <- sorted_levels(u[[f]])
    u[[f]] <- factor(u[[f]], levels = lv, labels = sapply(lv, level_text))
  }
  u
}

program_term <- function(t) gsub(":", "*", t, fixed = TRUE)

glm_tests <- function(u, rhs, factors, types = c(1, 3)) {
  f <- as.formula(paste("y ~", rhs))
  fit <- lm(f, data = u)
  rss <- sum(resid(fit)^2)
  dfe <- fit$df.residual
  mse <- rss / dfe
  row <- function(term, df, ss, F, p)
    list(term = term, df = df, ss = ss, mean_square = if (df > 0) ss / df else NA, F = F, sig = p)
  W <- nrow(u)
  out <- list()
  if (1 %in% types) {
    a1 <- anova(fit)
    ss0 <- W * mean(u$y)^2
    rows <- list(row("Intercept", 1, ss0, ss0 / mse, pf(ss0 / mse, 1, dfe, lower.tail = FALSE)))
    for (t in setdiff(rownames(a1), "Residuals"))
      rows[[length(rows) + 1]] <- row(program_term(t), a1[t, "Df"], a1[t, "Sum Sq"],
                                      a1[t, "F value"], a1[t, "Pr(>F)"])
    out$type1 <- rows
  } else {
    out["type1"] <- list(NULL)
  }
  if (3 %in% types) {
    sum_to_zero <- setNames(rep(list("contr.sum"), length(factors)), factors)
    fit3 <- lm(f, data = u, contrasts = sum_to_zero)
    a3 <- Anova(fit3, type = 3)
    rows <- list()
    for (t in setdiff(rownames(a3), "Residuals"))
      rows[[length(rows) + 1]] <- row(if (t == "(Intercept)") "Intercept" else program_term(t),
                                      a3[t, "Df"], a3[t, "Sum Sq"], a3[t, "F value"],
                                      a3[t, "Pr(>F)"])
    out$type3 <- rows
  } else {
    out["type3"] <- list(NULL)
  }
  fs <- summary(fit)$fstatistic
  ssm <- sum((u$y - mean(u$y))^2) - rss
  out$corrected_model <- row("Corrected model", fs[["numdf"]], ssm, fs[["value"]],
                             pf(fs[["value"]], fs[["numdf"]], fs[["dendf"]], lower.tail = FALSE))
  out$error <- list(df = dfe, ss = rss, mean_square = mse)
  out
}

# The joint test of a contrast's rows in each by group (test(joint = TRUE)
# rounds F to three decimals): the Wald statistic e' V^- e of the rows'
# estimates e with their covariance V from emmeans, on the rank of V; F is
# that over the rank, a chi-square where there is no error df.
joint_tests_by_hand <- function(con, fit, cs, by) {
  e <- cs$estimate
  V <- vcov(con)
  groups <- if (is.null(by)) list(seq_len(nrow(cs))) else
    split(seq_len(nrow(cs)), interaction(cs[, by, drop = FALSE], lex.order = TRUE, drop = TRUE))
  dfe <- if (inherits(fit, "glm")) Inf else df.residual(fit)
  do.call(rbind, lapply(groups, function(rows) {
    ev <- eigen(V[rows, rows, drop = FALSE], symmetric = TRUE)
    keep <- ev$values > 1e-10 * max(ev$values)
    proj <- crossprod(ev$vectors[, keep, drop = FALSE], e[rows])
    chi <- sum(proj^2 / ev$values[keep])
    r <- sum(keep)
    F <- chi / r
    data.frame(F.ratio = F, df1 = r, df2 = dfe,
               p.value = if (is.finite(dfe)) pf(F, r, dfe, lower.tail = FALSE) else
                 pchisq(chi, r, lower.tail = FALSE))
  }))
}

# One --emmeans request on a complete design through emmeans: the cells of
# the term's factors (the compare factor fastest), the pairs of its levels
# within each combination of the others, and the contrast.
glm_emmeans <- function(fit, u, term, factors, compare, adjust, contrast = NULL,
                        ref = NULL, metric = NULL, covariates = character(0)) {
  others <- setdiff(factors, compare)
  emm <- emmeans(fit, specs = c(others, compare))
  s <- as.data.frame(summary(emm))
  ord <- do.call(order, lapply(c(others, compare), function(f) as.integer(s[[f]])))
  means <- lapply(ord, function(i) list(
    levels = named(factors, sapply(factors, function(f) as.character(s[i, f]))),
    mean = s$emmean[i], se = s$SE[i], df = s$df[i], lower = s$lower.CL[i], upper = s$upper.CL[i]))

  by <- if (length(others)) others else NULL
  emc <- emmeans(fit, specs = compare, by = by)
  lv <- levels(u[[compare]])
  k <- length(lv)
  unordered <- t(combn(k, 2))
  coef_list <- lapply(seq_len(nrow(unordered)), function(r) {
    v <- rep(0, k)
    v[unordered[r, ]] <- c(1, -1)
    v
  })
  names(coef_list) <- sprintf("p%d", seq_along(coef_list))
  r_adjust <- if (adjust == "stepdown-sidak") "none" else adjust
  pr <- as.data.frame(summary(contrast(emc, method = coef_list, adjust = r_adjust),
                              infer = c(TRUE, TRUE)))
  groups <- if (is.null(by)) list(rep(TRUE, nrow(pr))) else
    split(seq_len(nrow(pr)), interaction(pr[, by, drop = FALSE], lex.order = TRUE, drop = TRUE))
  pairs <- list()
  for (g in groups) {
    rows <- if (is.logical(g)) which(g) else g
    p <- pr$p.value[rows]
    if (adjust == "stepdown-sidak") {
      raw <- 2 * pt(-abs(pr$t.ratio[rows]), pr$df[rows])
      p <- stepdown_sidak(raw)
    }
    fixed <- if (is.null(by)) obj() else
      named(by, sapply(by, function(f) as.character(pr[rows[1], f])))
    op <- ordered_pairs(k)
    for (r in seq_len(nrow(op))) {
      i <- op[r, 1]
      j <- op[r, 2]
      at <- which(unordered[, 1] == min(i, j) & unordered[, 2] == max(i, j))
      sgn <- if (i < j) 1 else -1
      x <- pr[rows[at], ]
      lo <- if (sgn > 0) x$lower.CL else -x$upper.CL
      hi <- if (sgn > 0) x$upper.CL else -x$lower.CL
      if (adjust %in% c("holm", "stepdown-sidak")) lo <- hi <- NA
      pairs[[length(pairs) + 1]] <- list(levels_fixed = fixed, a = lv[i], b = lv[j],
                                         estimate = sgn * x$estimate, se = x$SE, df = x$df,
                                         t = sgn * x$t.ratio, p = p[at], lower = lo, upper = hi)
    }
  }

  result <- list(term = term, compare = compare, adjust = adjust,
                 covariates_at = if (length(covariates))
                   named(covariates, sapply(covariates, function(v) mean(u[[v]]))) else obj(),
                 means = means, pairwise = pairs, contrast = NULL)
  if (is.null(contrast)) {
    result["contrast"] <- list(NULL)
    return(result)
  }
  refpos <- if (is.null(ref)) k else match(ref, lv)
  C <- contrast_matrix(contrast, k, refpos, if (is.null(metric)) seq_len(k) else metric)
  cn <- contrast_names(contrast, lv, refpos)
  crows <- setNames(lapply(seq_len(nrow(C)), function(r) C[r, ]), sprintf("c%d", seq_len(nrow(C))))
  cs <- as.data.frame(summary(contrast(emc, method = crows, adjust = r_adjust)))
  raw <- as.data.frame(summary(contrast(emc, method = crows, adjust = "none")))
  joint <- joint_tests_by_hand(contrast(emc, method = crows), fit, cs, by)
  tests <- list()
  cgroups <- if (is.null(by)) list(seq_len(nrow(cs))) else
    split(seq_len(nrow(cs)), interaction(cs[, by, drop = FALSE], lex.order = TRUE, drop = TRUE))
  for (gi in seq_along(cgroups)) {
    rows <- cgroups[[gi]]
    padj <- if (adjust == "stepdown-sidak") stepdown_sidak(raw$p.value[rows]) else cs$p.value[rows]
    fixed <- if (is.null(by)) obj() else
      named(by, sapply(by, function(f) as.character(cs[rows[1], f])))
    rl <- lapply(seq_along(rows), function(r) list(
      name = cn[r], coefficients = arr(C[r, ]), estimate = cs$estimate[rows[r]],
      se = cs$SE[rows[r]], df = cs$df[rows[r]], t = cs$t.ratio[rows[r]],
      p = raw$p.value[rows[r]], p_adjusted = padj[r]))
    jr <- if (is.null(by)) joint[1, ] else joint[gi, ]
    tests[[gi]] <- list(levels_fixed = fixed, rows = rl,
                        overall = list(F = jr$F.ratio, df1 = jr$df1, df2 = jr$df2, p = jr$p.value))
  }
  result$contrast <- list(type = contrast,
                          coefficients = lapply(seq_len(nrow(C)), function(r) arr(C[r, ])),
                          tests = tests)
  result
}

# An incomplete design: the mean of a marginal cell is the plain average of
# the observed design cells in it (emmeans' rows of those cells averaged),
# tested by hand with the error df.
glm_emmeans_incomplete <- function(fit, u, term, factors, compare, adjust) {
  others <- setdiff(factors, compare)
  all_factors <- c("A", "B")
  cells_emm <- emmeans(fit, specs = all_factors)
  grid <- as.data.frame(cells_emm@grid)
  Lc <- cells_emm@linfct
  observed <- paste(grid$A, grid$B) %in% unique(paste(u$A, u$B))
  b <- coef(fit)
  ok <- !is.na(b)
  V <- vcov(fit)[ok, ok]
  dfe <- fit$df.residual
  key <- do.call(expand.grid, c(lapply(rev(c(others, compare)), function(f) levels(u[[f]])),
                                stringsAsFactors = FALSE))
  key <- key[, rev(seq_len(ncol(key))), drop = FALSE]
  names(key) <- c(others, compare)
  L <- NULL
  lab <- NULL
  for (r in seq_len(nrow(key))) {
    hit <- observed & Reduce(`&`, lapply(names(key), function(f) grid[[f]] == key[r, f]))
    if (!any(hit)) next
    L <- rbind(L, colMeans(Lc[hit, , drop = FALSE]))
    lab <- rbind(lab, key[r, , drop = FALSE])
  }
  L <- L[, ok, drop = FALSE]
  est <- drop(L %*% b[ok])
  se <- sqrt(diag(L %*% V %*% t(L)))
  q <- qt(1 - (1 - level) / 2, dfe)
  means <- lapply(seq_len(nrow(L)), function(i) list(
    levels = named(factors, sapply(factors, function(f) lab[i, f])), mean = est[i], se = se[i],
    df = dfe, lower = est[i] - q * se[i], upper = est[i] + q * se[i]))
  groups <- list(seq_len(nrow(lab)))
  if (length(others)) {
    groups <- split(seq_len(nrow(lab)), lab[[others]])
    groups <- groups[order(match(names(groups), levels(u[[others]])))]
  }
  pairs <- list()
  for (g in groups) {
    k <- length(g)
    if (k < 2) next
    m <- k * (k - 1) / 2
    op <- ordered_pairs(k)
    D <- t(apply(op, 1, function(ij) L[g[ij[1]], ] - L[g[ij[2]], ]))
    de <- drop(D %*% b[ok])
    dse <- sqrt(diag(D %*% V %*% t(D)))
    tv <- de / dse
    raw <- 2 * pt(-abs(tv), dfe)
    unordered <- op[, 1] < op[, 2]
    padj <- numeric(nrow(op))
    padj[unordered] <- adjust_p(raw[unordered], adjust)
    for (r in which(!unordered))
      padj[r] <- padj[which(op[, 1] == op[r, 2] & op[, 2] == op[r, 1])]
    cv <- critical(adjust, m, dfe)
    fixed <- if (length(others)) named(others, lab[g[1], others]) else obj()
    for (r in seq_len(nrow(op)))
      pairs[[length(pairs) + 1]] <- list(
        levels_fixed = fixed, a = lab[g[op[r, 1]], compare], b = lab[g[op[r, 2]], compare],
        estimate = de[r], se = dse[r], df = dfe, t = tv[r], p = padj[r],
        lower = de[r] - cv * dse[r], upper = de[r] + cv * dse[r])
  }
  # The model's term with the empty cell, which the program names.
  list(term = term, compare = compare, adjust = adjust, covariates_at = obj(),
       incomplete_term = "A*B", means = means, pairwise = pairs, contrast = NULL)
}

# ------------------------------------------------------------- logistic

# Used records, factor levels sorted; the response coded by sorted category.
logistic_data_used <- function(formula, factors, fw = NULL) {
  des <- cli_design(logistic_data, formula, character(0), fw, NULL, TRUE)
  u <- des$u
  for (f in factors) {
    lv <- sorted_levels(u[[f]])
    u[[f]] <- factor(u[[f]], levels = lv, labels = sapply(lv, level_text))
  }
  list(u = u, w = des$fwv, dep = des$dep)
}

# Wald chi-square of the rows of L over all coefficients.
wald_rows <- function(L, b, V) {
  q <- qr(t(L), tol = 1e-10)
  L <- L[q$pivot[seq_len(q$rank)], , drop = FALSE]
  Lb <- L %*% b
  chi <- as.numeric(t(Lb) %*% solve(L %*% V %*% t(L), Lb))
  list(df = nrow(L), chi_square = chi, sig = pchisq(chi, nrow(L), lower.tail = FALSE))
}

logistic_tests <- function(X, assign, terms, b, V, J, w, types) {
  q <- ncol(X)
  blocks <- function(Lq) kronecker(diag(J - 1), Lq)
  row <- function(term, L) c(list(term = term), wald_rows(blocks(L), b, V))
  nterm <- c("Intercept", terms)
  out <- list()
  if (1 %in% types) {
    rows <- list()
    for (e in seq_along(nterm)) {
      Xe <- X[, assign == e - 1, drop = FALSE]
      Xb <- X[, assign < e - 1, drop = FALSE]
      M <- if (ncol(Xb)) Xe - Xb %*% solve(t(Xb) %*% (Xb * w), t(Xb) %*% (Xe * w)) else Xe
      rows[[e]] <- row(nterm[e], t(M) %*% (X * w))
    }
    out$type1 <- rows
  } else {
    out["type1"] <- list(NULL)
  }
  select <- function(cols) {
    L <- matrix(0, length(cols), q)
    L[cbind(seq_along(cols), cols)] <- 1
    L
  }
  if (3 %in% types) {
    out$type3 <- lapply(seq_along(nterm), function(e) row(nterm[e], select(which(assign == e - 1))))
  } else {
    out["type3"] <- list(NULL)
  }
  out$corrected_model <- row("Corrected model", select(which(assign > 0)))
  out
}

# Means, pairs and a contrast on one scale from rows L of the cells, the
# coefficients b and their covariance V: z tests, chi-square = z^2.
scale_results <- function(L, lab, factors, compare, b, V, adjust, contrast, ref, metric, lv) {
  est <- drop(L %*% b)
  se <- sqrt(diag(L %*% V %*% t(L)))
  z <- qnorm(1 - (1 - level) / 2)
  means <- lapply(seq_len(nrow(L)), function(i) list(
    levels = named(factors, sapply(factors, function(f) lab[i, f])), mean = est[i], se = se[i],
    lower = est[i] - z * se[i], upper = est[i] + z * se[i]))
  k <- nrow(L)
  op <- ordered_pairs(k)
  D <- t(apply(op, 1, function(ij) L[ij[1], ] - L[ij[2], ]))
  de <- drop(D %*% b)
  dse <- sqrt(diag(D %*% V %*% t(D)))
  raw <- 2 * pnorm(-abs(de / dse))
  unordered <- op[, 1] < op[, 2]
  padj <- numeric(nrow(op))
  padj[unordered] <- adjust_p(raw[unordered], adjust)
  for (r in which(!unordered)) padj[r] <- padj[which(op[, 1] == op[r, 2] & op[, 2] == op[r, 1])]
  cv <- critical(adjust, k * (k - 1) / 2, Inf)
  pairs <- lapply(seq_len(nrow(op)), function(r) list(
    levels_fixed = obj(), a = lv[op[r, 1]], b = lv[op[r, 2]], estimate = de[r], se = dse[r],
    chi_square = (de[r] / dse[r])^2, p = padj[r], lower = de[r] - cv * dse[r],
    upper = de[r] + cv * dse[r]))
  refpos <- if (is.null(ref)) k else match(ref, lv)
  C <- contrast_matrix(contrast, k, refpos, if (is.null(metric)) seq_len(k) else metric)
  cn <- contrast_names(contrast, lv, refpos)
  CL <- C %*% L
  ce <- drop(CL %*% b)
  cse <- sqrt(diag(CL %*% V %*% t(CL)))
  craw <- 2 * pnorm(-abs(ce / cse))
  cadj <- adjust_p(craw, adjust)
  rows <- lapply(seq_len(nrow(C)), function(r) list(
    name = cn[r], coefficients = arr(C[r, ]), estimate = ce[r], se = cse[r],
    chi_square = (ce[r] / cse[r])^2, p = craw[r], p_adjusted = cadj[r]))
  overall <- wald_rows(CL, b, V)
  list(means = means, pairwise = pairs,
       contrast = list(type = contrast, coefficients = lapply(seq_len(nrow(C)), function(r) arr(C[r, ])),
                       tests = list(list(levels_fixed = obj(), rows = rows,
                                         overall = list(chi_square = overall$chi_square,
                                                        df = overall$df, p = overall$sig)))))
}

# The same through emmeans on a binary glm: `scale` "link" or "response".
binary_scale <- function(fit, factor, adjust, contrast, ref, metric, lv, scale) {
  emm <- emmeans(fit, specs = factor)
  # Means on the response scale: bounds back-transformed from the logit
  # scale; differences and contrasts of probabilities: the regridded means.
  s <- as.data.frame(summary(emm, type = scale))
  means <- lapply(seq_len(nrow(s)), function(i) list(
    levels = named(factor, as.character(s[i, factor])),
    mean = if (scale == "response") s$prob[i] else s$emmean[i], se = s$SE[i],
    lower = s$asymp.LCL[i], upper = s$asymp.UCL[i]))
  if (scale == "response") emm <- regrid(emm)
  k <- length(lv)
  unordered <- t(combn(k, 2))
  coef_list <- setNames(lapply(seq_len(nrow(unordered)), function(r) {
    v <- rep(0, k)
    v[unordered[r, ]] <- c(1, -1)
    v
  }), sprintf("p%d", seq_len(nrow(unordered))))
  r_adjust <- if (adjust == "stepdown-sidak") "none" else adjust
  pr <- as.data.frame(summary(contrast(emm, method = coef_list, adjust = r_adjust),
                              infer = c(TRUE, TRUE)))
  op <- ordered_pairs(k)
  pairs <- lapply(seq_len(nrow(op)), function(r) {
    i <- op[r, 1]
    j <- op[r, 2]
    at <- which(unordered[, 1] == min(i, j) & unordered[, 2] == max(i, j))
    sgn <- if (i < j) 1 else -1
    x <- pr[at, ]
    list(levels_fixed = obj(), a = lv[i], b = lv[j], estimate = sgn * x$estimate, se = x$SE,
         chi_square = x$z.ratio^2, p = x$p.value,
         lower = if (sgn > 0) x$asymp.LCL else -x$asymp.UCL,
         upper = if (sgn > 0) x$asymp.UCL else -x$asymp.LCL)
  })
  refpos <- if (is.null(ref)) k else match(ref, lv)
  C <- contrast_matrix(contrast, k, refpos, if (is.null(metric)) seq_len(k) else metric)
  cn <- contrast_names(contrast, lv, refpos)
  crows <- setNames(lapply(seq_len(nrow(C)), function(r) C[r, ]), sprintf("c%d", seq_len(nrow(C))))
  cs <- as.data.frame(summary(contrast(emm, method = crows, adjust = r_adjust)))
  raw <- as.data.frame(summary(contrast(emm, method = crows, adjust = "none")))
  joint <- joint_tests_by_hand(contrast(emm, method = crows), fit, cs, NULL)
  rows <- lapply(seq_len(nrow(C)), function(r) list(
    name = cn[r], coefficients = arr(C[r, ]), estimate = cs$estimate[r], se = cs$SE[r],
    chi_square = cs$z.ratio[r]^2, p = raw$p.value[r], p_adjusted = cs$p.value[r]))
  list(means = means, pairwise = pairs,
       contrast = list(type = contrast, coefficients = lapply(seq_len(nrow(C)), function(r) arr(C[r, ])),
                       tests = list(list(levels_fixed = obj(), rows = rows,
                                         overall = list(chi_square = joint$F.ratio * joint$df1,
                                                        df = joint$df1, p = joint$p.value)))))
}

# ---------------------------------------------------------------- cases

cases <- list()
add_case <- function(name, data, args, expected) {
  cases[[length(cases) + 1]] <<- list(case = name,
                                      args = arr(c("--data", data, args)),
                                      expected = expected)
}

# A two-way model with a covariate.
ua <- glm_data(anova_data, c("y", "diet", "dose", "x"), c("diet", "dose"))
rhs <- "diet + dose + x + diet:dose"
fit_cov <- lm(y ~ diet + dose + x + diet:dose, data = ua)
formula_cov <- "y ~ diet + dose + x + diet*dose"
tests_cov <- glm_tests(ua, rhs, c("diet", "dose"))
add_case("covariate_polynomial", "cli_anova.csv",
         c("--formula", formula_cov, "--factors", "dose", "--tests", "1,3", "--emmeans",
           "diet*dose", "--compare", "dose", "--adjust", "bonferroni", "--contrast",
           "polynomial", "--metric", "1,2,4"),
         list(tests = tests_cov,
              emmeans = list(glm_emmeans(fit_cov, ua, "diet*dose", c("diet", "dose"), "dose",
                                         "bonferroni", "polynomial", metric = c(1, 2, 4),
                                         covariates = "x"))))
add_case("covariate_simple", "cli_anova.csv",
         c("--formula", formula_cov, "--factors", "dose", "--emmeans", "dose", "--emmeans",
           "dose*diet", "--compare", "dose", "--contrast", "simple",
           "--contrast-reference", "2"),
         list(emmeans = list(
           glm_emmeans(fit_cov, ua, "dose", "dose", "dose", "none", "simple", ref = "2",
                       covariates = "x"),
           glm_emmeans(fit_cov, ua, "diet*dose", c("dose", "diet"), "dose", "none", "simple",
                       ref = "2", covariates = "x"))))
add_case("covariate_sidak_deviation", "cli_anova.csv",
         c("--formula", formula_cov, "--factors", "dose", "--emmeans", "diet*dose",
           "--compare", "diet", "--adjust", "sidak", "--contrast", "deviation"),
         list(emmeans = list(glm_emmeans(fit_cov, ua, "diet*dose", c("diet", "dose"), "diet",
                                         "sidak", "deviation", covariates = "x"))))
add_case("covariate_holm_helmert", "cli_anova.csv",
         c("--formula", formula_cov, "--factors", "dose", "--emmeans", "diet", "--adjust",
           "holm", "--contrast", "helmert"),
         list(emmeans = list(glm_emmeans(fit_cov, ua, "diet", "diet", "diet", "holm", "helmert",
                                         covariates = "x"))))
# Main effects only: a contrast's weights on the other factor, thirds that
# cancel, must leave the contrast determined.
ue <- glm_data(anova_data, c("y", "diet", "dose"), c("diet", "dose"))
fit_main <- lm(y ~ diet + dose, data = ue)
add_case("main_effects_deviation", "cli_anova.csv",
         c("--formula", "y ~ diet + dose", "--factors", "dose", "--emmeans", "diet",
           "--adjust", "holm", "--contrast", "deviation"),
         list(emmeans = list(glm_emmeans(fit_main, ue, "diet", "diet", "diet", "holm",
                                         "deviation"))))
add_case("covariate_stepdown_sidak_repeated", "cli_anova.csv",
         c("--formula", formula_cov, "--factors", "dose", "--emmeans", "diet*dose",
           "--compare", "dose", "--adjust", "stepdown-sidak", "--contrast", "repeated"),
         list(emmeans = list(glm_emmeans(fit_cov, ua, "diet*dose", c("diet", "dose"), "dose",
                                         "stepdown-sidak", "repeated", covariates = "x"))))

# Frequency weights: every record counts f times.
uf <- glm_data(anova_data, c("y", "diet", "dose"), c("diet", "dose"), fw = "f")
fit_fw <- lm(y ~ diet + dose + diet:dose, data = uf)
add_case("frequency_weight", "cli_anova.csv",
         c("--formula", "y ~ diet + dose + diet*dose", "--factors", "dose", "--freq-weight", "f",
           "--tests", "1,3", "--emmeans", "diet*dose", "--compare", "diet", "--adjust",
           "bonferroni", "--contrast", "difference"),
         list(tests = glm_tests(uf, "diet + dose + diet:dose", c("diet", "dose")),
              emmeans = list(glm_emmeans(fit_fw, uf, "diet*dose", c("diet", "dose"), "diet",
                                         "bonferroni", "difference"))))

# An empty A x B cell (alpha at B = 100).
um <- glm_data(main_data, c("y", "A", "B"), c("A", "B"))
fit_empty <- lm(y ~ A + B + A:B, data = um)
add_case("empty_cell", "cli_main.csv",
         c("--formula", "y ~ A + B + A*B", "--factors", "B", "--tests", "1", "--emmeans", "A",
           "--emmeans", "A*B", "--compare", "A", "--compare", "B", "--adjust", "bonferroni"),
         list(tests = glm_tests(um, "A + B + A:B", c("A", "B"), types = 1),
              emmeans = list(
                glm_emmeans_incomplete(fit_empty, um, "A", "A", "A", "bonferroni"),
                glm_emmeans_incomplete(fit_empty, um, "A*B", c("A", "B"), "B", "bonferroni"))))

# A multinomial model with a named reference: logits of apple and cherry pie
# against banana.
lm3 <- logistic_data_used("y ~ A + x", "A")
u3 <- lm3$u
cats <- sorted_levels(u3$y)
ref <- "banana"
order3 <- c(setdiff(seq_along(cats), match(ref, cats)), match(ref, cats)) - 1
codes3 <- match(u3$y, cats) - 1
X3 <- model.matrix(~ A + x, data = u3, contrasts.arg = list(A = "contr.sum"))
fit3 <- mlogit_fit(X3, codes3, lm3$w, order3)
q3 <- ncol(X3)
u3e <- u3[rep(seq_len(nrow(u3)), lm3$w), ]
# emmeans' rows of the cells, from an lm with the same design (the response
# plays no part in them).
u3e$proxy <- seq_len(nrow(u3e))
emm3 <- emmeans(lm(proxy ~ A + x, data = u3e, contrasts = list(A = "contr.sum")),
                specs = "A")
L3 <- emm3@linfct
lab3 <- as.data.frame(emm3@grid)
lab3$A <- as.character(lab3$A)
lv3 <- levels(u3$A)
logits <- lapply(seq_len(length(cats) - 1), function(k) {
  idx <- (k - 1) * q3 + seq_len(q3)
  c(list(category = cats[order3[k] + 1]),
    scale_results(L3, lab3, "A", "A", fit3$beta[idx], fit3$V[idx, idx], "bonferroni", "simple",
                  "north", NULL, lv3))
})
add_case("multinomial", "cli_logistic.csv",
         c("--formula", "y ~ A + x", "--reference", ref, "--tests", "1,3", "--emmeans", "A",
           "--adjust", "bonferroni", "--contrast", "simple", "--contrast-reference", "north"),
         list(tests = logistic_tests(X3, attr(X3, "assign"), c("A", "x"), fit3$beta, fit3$V, 3,
                                     lm3$w, c(1, 3)),
              emmeans = list(list(term = "A", compare = "A", adjust = "bonferroni",
                                  covariates_at = list(x = weighted.mean(u3$x, lm3$w)),
                                  logits = logits, probabilities = NULL))))

# A binary model with frequency weights: the logit of no against yes, and
# the probability of no.
lb <- logistic_data_used("z ~ A + x", "A", fw = "f")
ub <- lb$u
# "no" < "yes", so the reference is yes and the model's logit is that of no.
ub$no <- as.numeric(ub$z == "no")
ube <- ub[rep(seq_len(nrow(ub)), lb$w), ]
fitb <- glm(no ~ A + x, family = binomial, data = ube, contrasts = list(A = "contr.sum"),
            control = glm.control(epsilon = 1e-15, maxit = 100))
Xb <- model.matrix(fitb)
lvb <- levels(ub$A)
logit_b <- c(list(category = "no"),
             binary_scale(fitb, "A", "sidak", "polynomial", NULL, NULL, lvb, "link"))
prob_b <- c(list(category = "no"),
            binary_scale(fitb, "A", "sidak", "polynomial", NULL, NULL, lvb, "response"))
Xbu <- model.matrix(~ A + x, data = ub, contrasts.arg = list(A = "contr.sum"))
add_case("binary", "cli_logistic.csv",
         c("--formula", "z ~ A + x", "--freq-weight", "f", "--tests", "1,3", "--emmeans", "A",
           "--adjust", "sidak", "--contrast", "polynomial"),
         list(tests = logistic_tests(Xbu, attr(Xbu, "assign"), c("A", "x"), coef(fitb),
                                     vcov(fitb), 2, lb$w, c(1, 3)),
              emmeans = list(list(term = "A", compare = "A", adjust = "sidak",
                                  covariates_at = list(x = weighted.mean(ub$x, lb$w)),
                                  logits = list(logit_b), probabilities = prob_b))))

# Predictions: the fitted value and residual of every record used, empty
# cells for the others (missing values).
missing_data <- read_back(file.path(out_dir, "cli_missing.csv"))
used <- complete.cases(missing_data[, c("y", "A", "x")])
fit_missing <- lm(y ~ A + x + A:x, data = missing_data[used, ])
fitted_all <- rep(NA, nrow(missing_data))
fitted_all[used] <- fitted(fit_missing)
add_case("predictions", "cli_missing.csv",
         c("--formula", "y ~ A + x + A*x"),
         list(predictions = lapply(seq_along(fitted_all), function(i) list(
           predicted = fitted_all[i], residual = missing_data$y[i] - fitted_all[i]))))

writeLines(c("[", paste(vapply(cases, to_json, ""), collapse = ",\n"), "]"),
           file.path(out_dir, "cli_analyses_cases.json"))

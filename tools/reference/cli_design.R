# The mcreg program's over-parametrised design, built independently of it
# for the golden end-to-end results (sourced by cli_golden.R and
# cli_logistic_golden.R): an intercept column, then per formula term one
# column per observed cell (categories sorted: numbers numerically, text
# byte-wise; the term's first factor slowest, for A(B) the enclosing B
# slowest), each multiplied by the term's covariates, with the program's
# parameter labels and effect texts. Records with a missing model value or
# a weight that is not positive are left out.

read_back <- function(path) {
  read.csv(path, fileEncoding = "UTF-8-BOM", na.strings = c("NA", ""),
           check.names = FALSE, stringsAsFactors = FALSE, strip.white = FALSE)
}

# "A*B" / "A:B" products and "A(B)" nesting; returns list(names, nest).
parse_term <- function(t) {
  t <- gsub("\\s", "", t)
  if (grepl("\\(", t)) {
    inner <- sub("^([^()]+)\\(([^()]+)\\)$", "\\1|\\2", t)
    p <- strsplit(inner, "|", fixed = TRUE)[[1]]
    return(list(names = p[1], nest = p[2], text = t))
  }
  list(names = strsplit(t, "[*:]")[[1]], nest = character(0), text = t)
}

sorted_levels <- function(v) {
  u <- unique(v)
  if (is.numeric(u)) sort(u) else sort(u, method = "radix") # radix = C locale
}
level_text <- function(v) if (is.numeric(v)) format(v, digits = 15) else v

cli_design <- function(d, formula, factors = character(0), fw = NULL, rw = NULL,
                       intercept = TRUE) {
  parts <- strsplit(formula, "~", fixed = TRUE)[[1]]
  dep <- trimws(parts[1])
  terms <- lapply(strsplit(parts[2], "+", fixed = TRUE)[[1]], parse_term)
  vars <- unique(c(dep, unlist(lapply(terms, function(t) c(t$names, t$nest))), fw, rw))
  is_factor <- function(v) v %in% factors || is.character(d[[v]])
  keep <- complete.cases(d[, vars, drop = FALSE])
  if (!is.null(fw)) keep <- keep & d[[fw]] > 0
  if (!is.null(rw)) keep <- keep & d[[rw]] > 0
  u <- d[keep, , drop = FALSE]
  fwv <- if (is.null(fw)) rep(1, nrow(u)) else u[[fw]]
  rwv <- if (is.null(rw)) rep(1, nrow(u)) else u[[rw]]

  X <- NULL
  labels <- character(0)
  effects <- character(0)
  if (intercept) {
    X <- cbind(X, rep(1, nrow(u)))
    labels <- "Intercept"
    effects <- "Intercept"
  }
  for (ti in seq_along(terms)) {
    t <- terms[[ti]]
    term_text <- gsub(":", "*", t$text, fixed = TRUE)
    all_names <- c(t$names, t$nest)
    facs <- Filter(is_factor, all_names)
    covs <- Filter(Negate(is_factor), t$names)
    covval <- if (length(covs)) Reduce(`*`, lapply(covs, function(c) u[[c]])) else rep(1, nrow(u))
    key_order <- if (length(t$nest)) c(t$nest, t$names) else facs # slowest first
    key_order <- Filter(is_factor, key_order)
    if (!length(key_order)) {
      X <- cbind(X, covval)
      labels <- c(labels, paste(covs, collapse = " * "))
      effects <- c(effects, term_text)
      next
    }
    codes <- sapply(key_order, function(f) match(u[[f]], sorted_levels(u[[f]])))
    codes <- matrix(codes, nrow = nrow(u))
    obs <- unique(codes)
    obs <- obs[do.call(order, as.data.frame(obs)), , drop = FALSE]
    for (i in seq_len(nrow(obs))) {
      hit <- apply(codes, 1, function(r) all(r == obs[i, ]))
      X <- cbind(X, as.numeric(hit) * covval)
      lev <- setNames(lapply(seq_along(key_order), function(j)
        level_text(sorted_levels(u[[key_order[j]]])[obs[i, j]])), key_order)
      br <- function(f) sprintf("[%s=%s]", f, lev[[f]])
      lab <- if (length(t$nest) && is_factor(t$names)) {
        sprintf("%s(%s)", br(t$names), paste(sapply(t$nest, br), collapse = " * "))
      } else if (length(t$nest)) {
        sprintf("%s(%s)", t$names, paste(sapply(t$nest, br), collapse = " * "))
      } else {
        paste(c(sapply(facs, br), covs), collapse = " * ")
      }
      labels <- c(labels, lab)
      effects <- c(effects, term_text)
    }
  }
  list(X = unname(X), labels = labels, effects = effects, u = u, dep = dep, fwv = fwv, rwv = rwv)
}

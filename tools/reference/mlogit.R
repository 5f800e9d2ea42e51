# Multinomial logit fits refined to the maximum, shared by the reference
# scripts. Categories are ordered as the library orders them: the
# non-reference codes ascending, then the reference; logit k compares
# category k with the reference.

suppressMessages(library(nnet))

# Columns that add something to the span of the columns before them.
kept_columns <- function(X, w) {
  keep <- c()
  for (j in seq_len(ncol(X))) {
    cand <- c(keep, j)
    Xw <- X[, cand, drop = FALSE] * sqrt(w)
    if (qr(Xw, tol = 1e-9)$rank == length(cand)) keep <- cand
  }
  keep
}

# Log-likelihood, score and information of the multinomial logit with the
# last column of the indicator matrix Y as reference.
mlogit_parts <- function(beta, X, Y, w) {
  q <- ncol(X)
  L <- ncol(Y) - 1
  B <- matrix(beta, q, L)
  eta <- cbind(X %*% B, 0)
  m <- apply(eta, 1, max)
  lse <- m + log(rowSums(exp(eta - m)))
  P <- exp(eta - lse)
  ll <- sum(w * rowSums(Y * (eta - lse)))
  score <- as.vector(t(X) %*% (w * (Y[, 1:L, drop = FALSE] - P[, 1:L, drop = FALSE])))
  info <- matrix(0, q * L, q * L)
  for (j in 1:L) for (l in 1:L) {
    c <- w * (if (j == l) P[, j] * (1 - P[, j]) else -P[, j] * P[, l])
    info[(j - 1) * q + 1:q, (l - 1) * q + 1:q] <- t(X) %*% (X * c)
  }
  list(ll = ll, score = score, info = info)
}

# Starts from nnet::multinom (glm(binomial) for two categories) and refines
# with Newton steps on the exact log-likelihood until the step is below 1e-15
# relative: the maximum likelihood estimates to the precision of the data,
# not to the tolerance of the optimizer that found them. y holds category
# codes, order the codes in model order (reference last). Returns the
# estimates (logit by logit), their covariance and the log-likelihood.
mlogit_fit <- function(X, y, w, order) {
  J <- length(order)
  reference <- order[J]
  Y <- sapply(order, function(k) as.numeric(y == k))
  if (J == 2) {
    start <- coef(glm(Y[, 1] ~ X - 1, family = binomial, weights = w,
                      control = glm.control(epsilon = 1e-14, maxit = 100)))
  } else {
    resp <- factor(y, levels = c(reference, order[-J]))
    fit <- multinom(resp ~ X - 1, weights = w, maxit = 2000, reltol = 1e-16, trace = FALSE)
    start <- as.vector(t(coef(fit)))
  }
  beta <- start
  for (it in 1:50) {
    parts <- mlogit_parts(beta, X, Y, w)
    step <- solve(parts$info, parts$score)
    beta <- beta + step
    if (max(abs(step) / pmax(abs(beta), 1e-8)) < 1e-15) break
  }
  parts <- mlogit_parts(beta, X, Y, w)
  list(beta = beta, V = solve(parts$info), ll = parts$ll)
}

# Wald chi-square b'L'(L V L')^-1 L b of the rows of L (over all
# parameters), reduced to full row rank, and its degrees of freedom.
wald <- function(L, b, V) {
  L <- L[, , drop = FALSE]
  q <- qr(t(L), tol = 1e-10)
  L <- L[q$pivot[seq_len(q$rank)], , drop = FALSE]
  Lb <- L %*% b
  c(nrow(L), as.numeric(t(Lb) %*% solve(L %*% V %*% t(L), Lb)))
}


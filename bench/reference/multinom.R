# Fits the multinomial benchmark model with nnet::multinom, for a
# side-by-side timing with mcreg:
#   build-rel/bench/fit_logistic 500000 --csv /tmp/mlogit.csv
#   Rscript bench/reference/multinom.R /tmp/mlogit.csv
suppressMessages(library(nnet))
d <- read.csv(commandArgs(TRUE)[1])
d$A <- factor(d$A)
d$B <- factor(d$B)
d$y <- factor(d$y, levels = c(3, 0, 1, 2))
t <- system.time(fit <- multinom(y ~ A + B + x1 + x2, data = d, maxit = 1000, trace = FALSE))
cat(sprintf("nnet::multinom: fit seconds %.3f  log-likelihood %.10f\n", t[["elapsed"]],
            as.numeric(logLik(fit))))

# R's verdicts on fits whose residuals are rounding, for the data of the
# ExactFitsSayTheirStandardErrorsAreRounding test (tests/cli/test_cli_messages.cpp):
# summary.lm's "essentially perfect fit" warning, and the HC0 covariance of
# the mean of a category that one record makes.
# Run from the repository root:
#   Rscript tools/reference/exact_fit.R
suppressPackageStartupMessages(library(sandwich))

verdict <- function(fit) {
  said <- "none"
  withCallingHandlers(summary(fit), warning = function(w) {
    said <<- conditionMessage(w)
    invokeRestart("muffleWarning")
  })
  said
}

line <- data.frame(y = c(3, 5, 7, 9, 11), x = 1:5)
near_line <- data.frame(y = c(3, 5, 7, 9, 11.000001), x = 1:5)
# Frequency weights 1 and 3 as the records they count.
replicated <- data.frame(y = c(2.5, 4, 4, 4), x = c(1, 3, 3, 3))
cat("exact line:      ", verdict(lm(y ~ x, line)), "\n")
cat("near line:       ", verdict(lm(y ~ x, near_line)), "\n")
cat("replicated:      ", verdict(lm(y ~ x, replicated)), "\n")

# The last category is the reference, as in the program: the intercept is
# the mean of b, whose one record has residual 0.
single <- data.frame(y = c(1, 2, 4, 7), A = factor(c("a", "a", "a", "b"), levels = c("b", "a")))
se <- sqrt(diag(vcovHC(lm(y ~ A, single), type = "HC0")))
cat("HC0 std. errors: ", sprintf("%s %.17g", names(se), se), "\n")

\name{print.korvelan_result}
\alias{print.korvelan_result}
\alias{summary.korvelan_result}
\alias{print.summary_korvelan_result}
\alias{plot.korvelan_result}
\title{Print, summarise and plot a korvelan() result}
\description{
  \code{print} shows the settings and the top genes, ordered as
  \file{results.tsv} is by default (whatever \code{sort_by} was): by
  \code{p_Rmean_left}, ties by \code{R_mean},
  then by gene id (bytes), \code{NA} last. \code{summary} counts the genes
  whose q-value is below each threshold, per q-value column. \code{plot}
  draws the six P-value histograms and Q against R-mean (one colour per
  number of listing studies) with base graphics.
}
\usage{
\method{print}{korvelan_result}(x, n = 10L, \dots)
\method{summary}{korvelan_result}(object, thresholds = c(0.001, 0.01, 0.05, 0.1, 0.25), \dots)
\method{print}{summary_korvelan_result}(x, \dots)
\method{plot}{korvelan_result}(x, \dots)
}
\arguments{
  \item{x, object}{a result of \code{\link{korvelan}} (or its summary).}
  \item{n}{the number of top genes shown.}
  \item{thresholds}{q-value thresholds; a gene counts when its q-value is
    strictly below.}
  \item{\dots}{not used.}
}
\value{
  \code{print} and \code{plot} return \code{x} invisibly; \code{summary}
  an object of class \code{summary_korvelan_result}: a list with
  \code{counts} (thresholds x q-value columns), \code{genes}, \code{runs}
  and \code{seed}.
}
\examples{
lists <- list(a = c("g1", "g2", "g3", "g4"), b = c("g2", "g1", "g4", "g3"),
              c = c("g1", "g3", "g2", "g4"))
res <- korvelan(lists, runs = 100, seed = 7)
print(res, n = 3)
summary(res)
plot(res)
}

\name{write_report}
\alias{write_report}
\title{Write the interactive report page of an analysis}
\description{
  Writes the self-contained HTML page of a \code{\link{korvelan}} result
  (summary, gene table, P-value histograms, each gene's rank per study):
  the \file{report.html} that \command{korvelan-meta} writes for the same
  studies, options and seed, but for the program named in its version line
  and methods paragraph (\code{korvelan (R)}) and, for studies given in
  memory, its \code{inputs} line, which lists file names.
}
\usage{
write_report(result, path)
}
\arguments{
  \item{result}{a result of \code{\link{korvelan}} as it was returned (its
    attributes hold the page; subsetting a data frame drops them).}
  \item{path}{the file to write. It is replaced as a whole: the page goes
    to a temporary file beside it, renamed over \code{path} once written.}
}
\value{\code{path}, invisibly.}
\examples{
lists <- list(
  a = c("TP53", "MYC", "EGFR", "KRAS"),
  b = c("MYC", "TP53", "KRAS", "EGFR"),
  c = c("TP53", "EGFR", "MYC", "KRAS"))
res <- korvelan(lists, runs = 100, seed = 1, verbose = FALSE)
page <- tempfile(fileext = ".html")
write_report(res, page)
unlink(page)
}

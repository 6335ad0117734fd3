\name{korvelan-package}
\alias{korvelan-package}
\docType{package}
\title{Rank-based meta-analysis of ranked gene lists}
\description{
  \code{\link{korvelan}} runs KORVELAN's rank-based meta-analysis on
  ranked gene lists, gene x study rank tables or long tables of ranks,
  with Monte Carlo permutation P-values and Benjamini-Hochberg q-values,
  by calling the KORVELAN C++ library, whose sources are part of this
  package.
}
\keyword{package}

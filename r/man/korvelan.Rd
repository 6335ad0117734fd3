\name{korvelan}
\alias{korvelan}
\title{Rank-based meta-analysis of ranked gene lists}
\description{
  Combines the ranks several studies give their genes into each gene's mean
  rank (R-mean), weighted mean rank (R-wmean) and heterogeneity statistic
  Q, judges each by Monte Carlo permutation runs within the gene's
  information class (the number of studies that rank it), and adjusts the
  six P-values by Benjamini-Hochberg. The analysis is the KORVELAN library's
  (its \code{RunMeta}); the same data, options and seed give the same
  numbers as the command-line program \command{korvelan-meta}.
}
\usage{
korvelan(x = NULL, weights = NULL, classes = NULL, runs = 1000L, seed = NULL,
         threads = NULL, absent = NULL, universe = NULL, min_studies = 1L,
         pvalues = c("plus-one", "exact"), verbose = interactive(),
         studies = NULL, sheet = NULL, input_format = "auto", gene = NULL,
         pvalue = NULL, statistic = NULL, sign_by = NULL, first = "largest",
         delimiter = "auto", duplicates = NULL, split_ids = NULL,
         sort_by = "p_Rmean_left")
}
\arguments{
  \item{x}{the studies, in one of three shapes:
    \itemize{
      \item a named list of character vectors (or factors), one per study:
        its gene ids, best first;
      \item a numeric matrix or data.frame of genes x studies: row names
        are the gene ids, column names the studies, each value the gene's
        rank (or any score where smaller is better) in that study;
        \code{NA} where the study did not rank the gene;
      \item a data.frame with the columns \code{study}, \code{gene} and
        \code{rank}, one row per ranked gene of each study (leave out the
        genes a study did not rank).
    }
    Equal ranks (or scores) share the average of the places they span.
    2 to 98 studies, each ranking at least 2 genes; a gene twice in one
    list, in one study of a long table or in a matrix's row names is
    refused unless \code{duplicates} says how to merge it.

    Or inputs the library reads as \command{korvelan-meta} reads them
    (the same numbers, \file{run.json} and page for the same options and
    seed):
    \itemize{
      \item a character vector of file paths: study tables, ranked lists
        or one table of all studies (see \code{input_format});
      \item a list (named by study; unnamed: \code{study1}, ...) of
        differential-expression results: data frames such as limma's
        \code{topTable}, objects inheriting from \code{"DataFrame"} such
        as DESeq2's \code{results} (taken through \code{as.data.frame}),
        or objects with a data frame \code{$table} such as edgeR's
        \code{topTags}. The gene and ranking columns are found from the
        column names as in a file with that header; row names, unless
        automatic, are the first column \code{row.names}, as
        \code{write.table} writes them.
    }}
  \item{weights}{one positive weight per study, in the order of the
    studies (held in single precision), used by R-wmean only;
    \code{NULL}: equal weights.}
  \item{classes}{not supported: a gene's information class is always the
    number of studies that rank it. Giving anything but \code{NULL} is an
    error.}
  \item{runs}{the number of Monte Carlo runs, at least 1.}
  \item{seed}{the generator's starting state, a whole number from 1 to
    2147483646. \code{NULL} draws one from R's random number generator,
    so that \code{\link{set.seed}} makes the analysis reproducible; the
    seed used is the result's attribute \code{"seed"}.}
  \item{threads}{threads to run on (1 to 256). The results are the same
    for every number of threads. \code{NULL} (the default) runs one thread
    per processor the process may use, as \command{korvelan-meta} and the
    Python package do, at most 256; when the environment variable
    \env{_R_CHECK_LIMIT_CORES_} is set (and not \code{"false"}), as
    \command{R CMD check} sets it for CRAN's checks, at most 2.}
  \item{absent}{what a gene a study did not rank is to that study:
    \code{"missing"} (not ranked; the default for matrices and tables) or
    \code{"below"} (ranked below the study's list, tied at the average of
    the remaining places of the universe: \eqn{(n + 1 + N) / 2} for a
    study ranking \eqn{n} of \eqn{N} genes; the default for ranked lists).}
  \item{universe}{for \code{absent = "below"}: the number of genes
    \eqn{N}, or a character vector of all gene ids (genes no study lists
    are placed below every list); with inputs the library reads, also the
    path of a file of ids, as \command{korvelan-meta --universe}.
    \code{NULL}: the genes of all studies.}
  \item{min_studies}{1 to the number of studies: genes listed by fewer
    studies get \code{NA}
    statistics and take no part in the runs or the adjustment.}
  \item{pvalues}{\code{"plus-one"}: \eqn{(count + 1) / (total + 1)},
    never 0; \code{"exact"}: \eqn{count / total} in single precision,
    the values the console program \command{korvelan} writes.}
  \item{verbose}{show a progress bar (on by default in interactive
    sessions).}
  \item{studies}{per-study settings, shaped like the study sheet of
    \command{korvelan-meta}: a data frame with a column \code{study} (one
    row per study of \code{x}) and any of \code{weight}, \code{absent}
    and \code{universe} (a number of genes, or in a list column a
    character vector of ids); \code{NA} takes the argument of that name.
    Full tables (\code{"missing"}) and top-k lists (\code{"below"} over
    their universe) can so be analysed together; a gene's information
    class is the number of studies that measured it, and a top-k study
    measures its whole universe. Not with inputs the library reads (a
    \code{sheet} holds per-study settings).}
  \item{sheet}{the path of a study sheet, as \command{korvelan-meta
    --studies}, instead of \code{x}; weights and per-study settings go in
    the sheet.}
  \item{input_format}{for file paths: \code{"auto"}, \code{"tables"},
    \code{"lists"}, \code{"columns"}, \code{"rows"} or \code{"long"}.}
  \item{gene}{for tables: the column of the gene ids (\code{NULL}: found
    from the header).}
  \item{pvalue}{for tables: rank by this p-value column, smallest first.}
  \item{statistic}{for tables: rank by this statistic (see \code{first});
    not with \code{pvalue}.}
  \item{sign_by}{for tables, with \code{pvalue}: rank by the sign of this
    column times \eqn{-\log_{10} p}.}
  \item{first}{with \code{statistic} or \code{sign_by}: \code{"largest"}
    or \code{"smallest"} gets rank 1.}
  \item{delimiter}{for files: \code{"auto"}, \code{"tab"},
    \code{"comma"} or \code{"semicolon"}.}
  \item{duplicates}{a gene named more than once by one study (in a
    ranked list, on several rows of a long table, of a matrix or of a
    table the library reads): \code{"refuse"} (an error), \code{"first"} (its first place
    or row counts), \code{"best"} (its best rank or value) or
    \code{"mean"} (the mean of its ranks or values), as
    \command{korvelan-meta --duplicates}. \code{NULL}: \code{"mean"} for
    tables the library reads, \code{"refuse"} otherwise.}
  \item{split_ids}{for tables: split ids joining several genes at this
    separator (e.g. \code{"///"}).}
  \item{sort_by}{the P-value column that orders the report page's table,
    as \command{korvelan-meta --sort-by} (the data frame keeps the genes'
    order).}
}
\details{
  The analysis runs on a thread of its own while R waits; an interrupt
  (Ctrl-C, or \code{SIGINT}) stops it within a fraction of a second and
  reaches R as an ordinary interrupt condition, leaving the session
  usable.

  A gene's Q is \code{NA} (with its two Q P-values) when fewer than two
  studies rank it. q-values are Benjamini-Hochberg adjusted per P-value
  column over the genes with a P-value in that column, as
  \code{p.adjust(p, "BH")}.
}
\value{
  A data.frame of class \code{c("korvelan_result", "data.frame")}, one row
  per gene in the order of the input (the genes in order of first
  appearance across the studies, then universe ids no study lists), with
  the columns of \command{korvelan-meta}'s \file{results.tsv}:
  \code{gene}, \code{n_studies} (studies that list the gene),
  \code{rank_<study>} (the rank each study gives the gene, including the
  \dQuote{below} rank, before the ranks are put on one scale),
  \code{R_mean}, \code{R_wmean}, \code{Q}, the P-values
  \code{p_Rmean_right}, \code{p_Rmean_left}, \code{p_Rwmean_right},
  \code{p_Rwmean_left}, \code{p_Q_right}, \code{p_Q_left} and their
  q-values \code{q_...}. Small left P-values of R-mean mark genes
  consistently ranked at the top. Studies ranked by a signed value (a
  statistic, or a p-value signed by a fold change) add \code{direction}
  (\code{"up"}, \code{"down"} or \code{NA}), \code{n_up} and
  \code{n_down}, and with fold changes \code{logFC_<study>} and
  \code{logFC_mean}, as \file{results.tsv} does.

  Attributes: \code{runs}, \code{seed} (the seed used), \code{universe}
  (\eqn{N} of the \dQuote{below} rank), \code{version} (of the package and
  library) and \code{settings} (the other options, the number of genes
  analysed and the largest information class), \code{run} (the text of
  \command{korvelan-meta}'s \file{run.json} for this run, program
  \code{"korvelan (R)"}) and \code{report_page} (the page
  \code{\link{write_report}} writes). These two texts are made from the
  run when first read (the page of many genes costs a few per cent of the
  analysis); saving the result (\code{saveRDS}) writes them out.
}
\seealso{\code{\link{print.korvelan_result}} for printing, summarising
  and plotting the result.}
\examples{
lists <- list(
  study1 = c("TP53", "MYC", "EGFR", "KRAS", "BRCA1", "PTEN"),
  study2 = c("MYC", "TP53", "KRAS", "PTEN", "EGFR"),
  study3 = c("TP53", "EGFR", "MYC", "BRCA1", "CDK4", "KRAS"))
res <- korvelan(lists, runs = 200, seed = 1)
res
summary(res)

# The same studies as a matrix of ranks (NA: not ranked) and as a long table.
genes <- unique(unlist(lists))
m <- sapply(lists, function(ids) match(genes, ids))
rownames(m) <- genes
korvelan(m, runs = 200, seed = 1)
long <- data.frame(study = rep(names(lists), lengths(lists)),
                   gene = unlist(lists), rank = unlist(lapply(lists, seq_along)))
head(korvelan(long, runs = 200, seed = 1, absent = "below"))
}
\keyword{htest}

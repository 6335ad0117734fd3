# Small studies for the tests: 5 overlapping ranked lists of a few hundred
# genes, in the three input shapes.
small_lists <- function(studies = 5L, genes = 300L, listed = 200L, seed = 11L) {
  old <- if (exists(".Random.seed", globalenv())) get(".Random.seed", globalenv())
  on.exit(if (!is.null(old)) assign(".Random.seed", old, globalenv()))
  set.seed(seed)
  ids <- sprintf("g%04d", seq_len(genes))
  x <- lapply(seq_len(studies), function(j) sample(ids, listed))
  names(x) <- paste0("study", seq_len(studies))
  x
}

lists_to_long <- function(x) {
  data.frame(study = rep(names(x), lengths(x)), gene = unlist(x, use.names = FALSE),
             rank = unlist(lapply(x, seq_along), use.names = FALSE),
             stringsAsFactors = FALSE)
}

lists_to_matrix <- function(x) {
  genes <- unique(unlist(x, use.names = FALSE))
  m <- vapply(x, function(ids) as.double(match(genes, ids)), numeric(length(genes)))
  rownames(m) <- genes
  m
}

# The repository's shipped data, when the tests run from its test command.
repo_dir <- function() {
  dir <- Sys.getenv("KORVELAN_REPO")
  if (!nzchar(dir) || !dir.exists(dir)) testthat::skip("KORVELAN_REPO is not set")
  dir
}

# The five GSE studies (tests/tools/data): gene symbols with p-values.
gse_tables <- function() {
  files <- list.files(file.path(repo_dir(), "tests", "tools", "data"),
                      pattern = "^GSE.*[.]tsv$", full.names = TRUE)
  tables <- lapply(files, function(f) {
    t <- utils::read.delim(f, quote = "", stringsAsFactors = FALSE)
    t[, c("Symbol", "pvalue")]
  })
  names(tables) <- sub("[.]tsv$", "", basename(files))
  tables
}

# `res` (a korvelan() result) against a results.tsv read as text: same
# columns, same row order by results.tsv's sort, and every number the same
# double (the library's shortest decimal of each value, digit for digit).
expect_same_results <- function(res, expected) {
  expect_identical(names(res), names(expected))
  # print()'s order is results.tsv's row order.
  expect_identical(res$gene[korvelan:::.result_order(res)], expected$gene)
  rows <- match(expected$gene, res$gene)
  # Values held in single precision are written as floats.
  exact <- identical(attr(res, "settings")$pvalues, "exact")
  for (col in names(expected)[-1L]) {
    mine <- res[[col]][rows]
    single <- col %in% c("R_mean", "R_wmean", "Q") || (exact && startsWith(col, "p_"))
    text <- if (is.character(mine)) ifelse(is.na(mine), "NA", mine)
            else if (is.integer(mine)) as.character(mine)
            else korvelan:::.format_number(mine, single)
    differ <- which(text != expected[[col]])
    expect(length(differ) == 0L,
           sprintf("column %s differs in %d rows, first gene %s: %s here, %s in results.tsv",
                   col, length(differ), expected$gene[differ[1L]], text[differ[1L]],
                   expected[[col]][differ[1L]]))
  }
}


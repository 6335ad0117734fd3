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

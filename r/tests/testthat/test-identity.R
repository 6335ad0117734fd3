# korvelan() against the library's own results.tsv (korvelan::ResultsTsv,
# written by the test program r_meta_oracle from the same studies and
# options) on the repository's data sets, for each input shape. The
# examples/data.txt matrix has no korvelan-meta input format; the other
# data sets are compared with korvelan-meta itself in test-meta.R.

oracle <- function(shape, lines, runs, seed, pvalues, absent, weights = NULL) {
  exe <- Sys.getenv("KORVELAN_ORACLE")
  if (!nzchar(exe) || !file.exists(exe)) skip("KORVELAN_ORACLE is not set")
  file <- tempfile(fileext = ".tsv")
  on.exit(unlink(file))
  writeLines(lines, file)
  args <- c(shape, file, runs, seed, pvalues, absent,
            if (!is.null(weights)) paste(sprintf("%.17g", weights), collapse = ","))
  out <- suppressWarnings(system2(exe, shQuote(args), stdout = TRUE, stderr = TRUE))
  expect_null(attr(out, "status"), info = paste(out, collapse = "\n"))
  utils::read.delim(text = out, colClasses = "character", na.strings = character(0),
                    quote = "", check.names = FALSE)
}

num <- function(v) sprintf("%.17g", v)

test_that("ranked lists (the GSE studies by p-value) equal results.tsv", {
  tables <- gse_tables()
  x <- lapply(tables, function(t) t$Symbol[order(t$pvalue)])
  lines <- unlist(lapply(names(x), function(s) paste(s, x[[s]], sep = "\t")))
  res <- korvelan(x, runs = 20L, seed = 2024L, verbose = FALSE)
  expect_identical(attr(res, "settings")$absent, "below")
  expect_identical(res$gene, unique(unlist(x, use.names = FALSE)))
  expect_same_results(res, oracle("lists", lines, 20, 2024, "plus-one", "below"))
})

test_that("a long table (study, gene, p-value as rank) equals results.tsv, weighted", {
  tables <- gse_tables()
  long <- do.call(rbind, lapply(names(tables), function(s) {
    data.frame(study = s, gene = tables[[s]]$Symbol, rank = tables[[s]]$pvalue)
  }))
  weights <- c(24, 30, 18, 40, 22)
  res <- korvelan(long, weights = weights, runs = 20L, seed = 77L, verbose = FALSE)
  expect_identical(attr(res, "settings")$absent, "missing")
  expected <- oracle("long", paste(long$study, long$gene, num(long$rank), sep = "\t"),
                     20, 77, "plus-one", "missing", weights)
  expect_same_results(res, expected)
})

table_lines <- function(m) {
  c(paste(c("gene", colnames(m)), collapse = "\t"),
    apply(cbind(rownames(m), ifelse(is.na(m), "NA", num(m))), 1L, paste, collapse = "\t"))
}

test_that("a matrix (examples/data.txt, -99 as NA) equals results.tsv, exact P-values too", {
  data <- as.matrix(utils::read.table(file.path(repo_dir(), "examples", "data.txt")))
  m <- data[, 2:6]
  m[m == -99] <- NA
  dimnames(m) <- list(sprintf("probe%05d", data[, 1]), paste0("S", 1:5))
  for (pvalues in c("plus-one", "exact")) {
    res <- korvelan(m, runs = 20L, seed = 31L, pvalues = pvalues, verbose = FALSE)
    expect_identical(res$gene, rownames(m))
    expect_same_results(res, oracle("table", table_lines(m), 20, 31, pvalues, "missing"))
  }
  # The same matrix as a data.frame.
  res <- korvelan(as.data.frame(m), runs = 20L, seed = 31L, verbose = FALSE)
  expect_same_results(res, oracle("table", table_lines(m), 20, 31, "plus-one", "missing"))
})

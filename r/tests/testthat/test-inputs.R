# Files, a study sheet and DE tables read by the library as korvelan-meta
# reads them: the same results.tsv, and write_report()'s page the same as
# korvelan-meta's report.html but for the program's name.

meta_run <- function(...) {
  exe <- Sys.getenv("KORVELAN_META")
  if (!nzchar(exe) || !file.exists(exe)) skip("KORVELAN_META is not set")
  dir <- tempfile()
  out <- suppressWarnings(system2(exe, shQuote(c(..., "-o", dir, "-q", "--runs", 40,
                                                 "--seed", 17, "--threads", 2)),
                                  stdout = TRUE, stderr = TRUE))
  expect_null(attr(out, "status"), info = paste(out, collapse = "\n"))
  dir
}

meta_results <- function(dir) {
  utils::read.delim(file.path(dir, "results.tsv"), colClasses = "character",
                    na.strings = character(0), quote = "", check.names = FALSE)
}

gse_files <- function() {
  list.files(file.path(repo_dir(), "tests", "tools", "data"), pattern = "^GSE.*[.]tsv$",
             full.names = TRUE)
}

run <- function(x, ...) korvelan(x, runs = 40L, seed = 17L, threads = 2L, verbose = FALSE, ...)

expect_same_page <- function(res, dir, inputs = NULL) {
  page <- tempfile(fileext = ".html")
  on.exit(unlink(page))
  write_report(res, page)
  mine <- readChar(page, file.size(page), useBytes = TRUE)
  theirs <- readChar(file.path(dir, "report.html"), file.size(file.path(dir, "report.html")),
                     useBytes = TRUE)
  version <- attr(res, "version")
  theirs <- gsub(paste("korvelan-meta", version), paste("korvelan (R)", version), theirs, fixed = TRUE)
  if (!is.null(inputs)) {
    theirs <- sub(paste0("[\"inputs\",\"", inputs, "\"]"), "[\"inputs\",\"\"]", theirs, fixed = TRUE)
  }
  expect_true(identical(mine, theirs))
}

test_that("study tables as files equal korvelan-meta, direction columns and page too", {
  files <- gse_files()
  # Detected: p-values signed by the fold change, so direction columns;
  # ranked by the p-value alone: none.
  cases <- list(list(args = character(0), r = list(), direction = TRUE),
                list(args = c("--pvalue", "pvalue", "--duplicates", "first", "--pvalues", "exact"),
                     r = list(pvalue = "pvalue", duplicates = "first", pvalues = "exact"),
                     direction = FALSE))
  for (case in cases) {
    res <- do.call(run, c(list(files), case$r))
    dir <- meta_run(files, case$args)
    expect_same_results(res, meta_results(dir))
    expect_same_page(res, dir)
    expect_identical(all(c("direction", "n_up", "n_down", "logFC_mean") %in% names(res)), case$direction)
    expect_match(attr(res, "run"), "\"program\": \"korvelan (R)\"", fixed = TRUE)
    unlink(dir, recursive = TRUE)
  }
})

test_that("a study sheet equals korvelan-meta --studies", {
  files <- gse_files()
  dir <- tempfile()
  dir.create(dir)
  on.exit(unlink(dir, recursive = TRUE))
  sheet <- file.path(dir, "sheet.tsv")
  writeLines(c("file\tweight\tpvalue", paste0(files[1:3], "\t", c(2, 1, 1.5), "\tpvalue")), sheet)
  res <- run(NULL, sheet = sheet, min_studies = 2L)
  out <- meta_run("--studies", sheet, "--min-studies", 2)
  expect_same_results(res, meta_results(out))
  expect_same_page(res, out)
})

# The GSE tables in the shapes DE tools return, and each as the TSV
# write.table() makes of it.
de_shapes <- function() {
  registerS3method("as.data.frame", "FakeDESeqResults",
                   function(x, ...) x$frame, envir = asNamespace("korvelan"))
  t <- lapply(gse_files()[1:3], function(f) {
    utils::read.delim(f, quote = "", stringsAsFactors = FALSE)[1:300, ]
  })
  names(t) <- paste0("S", 1:3)
  limma <- lapply(t, function(d) {
    data.frame(logFC = d$Log2FC, AveExpr = 5, t = d$Log2FC / 0.1, P.Value = d$pvalue,
               adj.P.Val = d$pvalue, B = 0, row.names = make.unique(d$Symbol))
  })
  deseq <- lapply(limma, function(d) {
    structure(list(frame = data.frame(baseMean = 100, log2FoldChange = d$logFC, lfcSE = 0.1,
                                      stat = d$t, pvalue = d$P.Value, padj = d$P.Value,
                                      row.names = rownames(d))),
              class = c("FakeDESeqResults", "DataFrame"))
  })
  edger <- lapply(limma, function(d) {
    structure(list(table = data.frame(logFC = d$logFC, logCPM = 4, PValue = d$P.Value,
                                      FDR = d$P.Value, row.names = rownames(d))),
              class = "TopTags")
  })
  list(limma = limma, deseq = deseq, edger = edger)
}

test_that("limma, DESeq2 and edgeR results equal korvelan-meta on their TSV", {
  shapes <- de_shapes()
  for (tool in names(shapes)) {
    x <- shapes[[tool]]
    dir <- tempfile()
    dir.create(dir)
    files <- file.path(dir, paste0(names(x), ".tsv"))
    for (j in seq_along(x)) {
      # Every digit of each double (write.table keeps 15 significant ones).
      frame <- korvelan:::.de_frame(x[[j]])
      text <- as.data.frame(lapply(frame, korvelan:::.format_number, FALSE), row.names = rownames(frame))
      utils::write.table(text, files[j], sep = "\t", quote = FALSE)
    }
    res <- run(x)
    expect_same_results(res, meta_results(meta_run(files)))
    expect_true("direction" %in% names(res), info = tool)
    unlink(dir, recursive = TRUE)
  }
})

test_that("bad inputs and report calls say what is wrong", {
  expect_error(run("/no/such/file.tsv"), "/no/such/file.tsv")
  expect_error(run(gse_files(), pvalue = "pvalue", statistic = "Log2FC"), "at most one")
  expect_error(run(gse_files(), sort_by = "p_nothing"), "`sort_by` must be \"p_Rmean_right\", ", fixed = TRUE)
  expect_error(run(NULL), "give `x`")
  expect_error(run(gse_files(), universe = 20000), "`universe` applies to absent = \"below\" only",
               fixed = TRUE)
  expect_error(write_report(data.frame(a = 1), tempfile()), "result of korvelan")
})

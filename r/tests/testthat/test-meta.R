# korvelan() against korvelan-meta's results.tsv on the shipped data sets:
# the same studies in each of korvelan()'s input shapes, the same options
# and seed, the same numbers (digit for digit) and the same sort.

run_meta <- function(inputs, ...) {
  exe <- Sys.getenv("KORVELAN_META")
  if (!nzchar(exe) || !file.exists(exe)) skip("KORVELAN_META is not set")
  dir <- tempfile()
  on.exit(unlink(dir, recursive = TRUE))
  out <- suppressWarnings(system2(exe, shQuote(c(inputs, ..., "-o", dir, "-q")),
                                  stdout = TRUE, stderr = TRUE))
  expect_null(attr(out, "status"), info = paste(out, collapse = "\n"))
  utils::read.delim(file.path(dir, "results.tsv"), colClasses = "character",
                    na.strings = character(0), quote = "", check.names = FALSE)
}

meta_data <- function(...) file.path(repo_dir(), "tests", "meta", "data", ...)

test_that("lists: the five prostate top-25 lists (rows file) equal korvelan-meta", {
  file <- meta_data("rankaggreg-prostate5", "geneLists.tsv")
  rows <- strsplit(readLines(file)[-1L], "\t", fixed = TRUE)
  x <- lapply(rows, function(r) r[-1L][nzchar(r[-1L])])
  names(x) <- vapply(rows, `[`, "", 1L)
  res <- korvelan(x, runs = 50L, seed = 11L, verbose = FALSE)
  expect_same_results(res, run_meta(file, "--runs", 50, "--seed", 11))
  res <- korvelan(x, runs = 50L, seed = 11L, pvalues = "exact", absent = "missing",
                  min_studies = 2L, verbose = FALSE)
  expect_same_results(res, run_meta(file, "--runs", 50, "--seed", 11, "--pvalues", "exact",
                                    "--absent", "missing", "--min-studies", 2))
})

test_that("lists: the breast columns with a universe size equal korvelan-meta", {
  file <- meta_data("topklists-breast3", "breast.tsv")
  t <- utils::read.delim(file, colClasses = "character", quote = "", check.names = FALSE)
  x <- lapply(t[-1L], function(ids) ids[seq_len(match("", c(ids, ""))[1L] - 1L)])
  res <- korvelan(x, runs = 30L, seed = 5L, universe = 5000, weights = c(1, 2, 3),
                  verbose = FALSE)
  expect_same_results(res, run_meta(file, "--runs", 30, "--seed", 5, "--universe", 5000,
                                    "--weights", "1,2,3"))
})

test_that("studies: per-study absent, universe and weight equal korvelan-meta --studies", {
  file <- meta_data("rankaggreg-prostate5", "geneLists.tsv")
  rows <- strsplit(readLines(file)[-1L], "\t", fixed = TRUE)
  x <- lapply(rows, function(r) r[-1L][nzchar(r[-1L])])
  names(x) <- vapply(rows, `[`, "", 1L)
  dir <- tempfile()
  dir.create(dir)
  on.exit(unlink(dir, recursive = TRUE))
  for (s in names(x)) writeLines(x[[s]], file.path(dir, paste0(s, ".txt")))
  # Luo's list as a table of the genes it measured; the others top-25 of 3000.
  sheet <- data.frame(file = paste0(names(x), ".txt"), study = names(x),
                      absent = c("missing", rep("below", 4)), universe = c(NA, rep(3000, 4)),
                      weight = c(2, NA, NA, NA, NA))
  utils::write.table(sheet, file.path(dir, "sheet.tsv"), sep = "\t", quote = FALSE,
                     row.names = FALSE, na = "")
  res <- korvelan(x, runs = 20L, seed = 4L, verbose = FALSE, studies = sheet[-1L])
  expect_same_results(res, run_meta(character(0), "--studies", file.path(dir, "sheet.tsv"),
                                    "--runs", 20, "--seed", 4))
  expect_error(korvelan(x, runs = 5L, seed = 4L, verbose = FALSE, studies = sheet[-1L][-1L, ]),
               "`studies` has no row for study \"Luo\"")
})

test_that("matrix, data.frame and long table of the GSE p-values equal korvelan-meta's tables", {
  files <- sort(list.files(file.path(repo_dir(), "tests", "tools", "data"),
                           pattern = "^GSE.*[.]tsv$", full.names = TRUE))
  expected <- run_meta(files, "--gene", "Symbol", "--pvalue", "pvalue", "--runs", 20,
                       "--seed", 2024, "--weights", "24,30,18,40,22")
  tables <- gse_tables()
  studies <- sub("^rank_", "", grep("^rank_", names(expected), value = TRUE))
  tables <- tables[match(studies, sub("[.]tsv$", "", names(tables)))]
  names(tables) <- studies
  genes <- unique(unlist(lapply(tables, `[[`, "Symbol")))
  m <- vapply(tables, function(t) t$pvalue[match(genes, t$Symbol)], numeric(length(genes)))
  rownames(m) <- genes
  long <- do.call(rbind, lapply(studies, function(s) {
    data.frame(study = s, gene = tables[[s]]$Symbol, rank = tables[[s]]$pvalue)
  }))
  for (input in list(m, as.data.frame(m), long)) {
    res <- korvelan(input, runs = 20L, seed = 2024L, weights = c(24, 30, 18, 40, 22),
                    verbose = FALSE)
    expect_same_results(res, expected)
  }
})

test_that("lists with a gene twice: duplicates first, best and mean equal korvelan-meta", {
  file <- meta_data("rankaggreg-prostate5", "geneLists.tsv")
  rows <- strsplit(readLines(file)[-1L], "\t", fixed = TRUE)
  x <- lapply(rows, function(r) r[-1L][nzchar(r[-1L])])
  names(x) <- vapply(rows, `[`, "", 1L)
  # Welsh names its third gene again at place 10; True its first again last.
  x$Welsh <- append(x$Welsh, x$Welsh[3L], after = 9L)
  x$True <- c(x$True, x$True[1L])
  dir <- tempfile()
  dir.create(dir)
  on.exit(unlink(dir, recursive = TRUE))
  files <- file.path(dir, paste0(names(x), ".txt"))
  for (j in seq_along(x)) writeLines(x[[j]], files[j])
  expect_error(korvelan(x, runs = 5L, seed = 3L, verbose = FALSE),
               "Welsh.*lists gene \"0ACT2\" twice .*`duplicates` chooses")
  for (duplicates in c("first", "best", "mean")) {
    expected <- run_meta(files, "--input-format", "lists", "--duplicates", duplicates,
                         "--runs", 30, "--seed", 3)
    res <- korvelan(x, runs = 30L, seed = 3L, duplicates = duplicates, verbose = FALSE)
    expect_same_results(res, expected)
    # The same positions as a long table's ranks: the same merge.
    res <- korvelan(lists_to_long(x), runs = 30L, seed = 3L, duplicates = duplicates,
                    absent = "below", verbose = FALSE)
    expect_same_results(res, expected)
  }
})

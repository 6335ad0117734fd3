test_that("the result is a data.frame of results.tsv's columns, in input order", {
  x <- small_lists()
  res <- korvelan(x, runs = 5L, seed = 3L, verbose = FALSE)
  expect_s3_class(res, c("korvelan_result", "data.frame"), exact = TRUE)
  p <- c("Rmean_right", "Rmean_left", "Rwmean_right", "Rwmean_left", "Q_right", "Q_left")
  expect_identical(names(res), c("gene", "n_studies", paste0("rank_", names(x)),
                                 "R_mean", "R_wmean", "Q", paste0("p_", p), paste0("q_", p)))
  expect_type(res$gene, "character")
  expect_type(res$n_studies, "integer")
  for (col in names(res)[-(1:2)]) expect_type(res[[col]], "double")
  expect_identical(res$gene, unique(unlist(x, use.names = FALSE)))
  expect_identical(res$rank_study1[match(x$study1, res$gene)], as.double(seq_along(x$study1)))
  expect_identical(attr(res, "runs"), 5L)
  expect_identical(attr(res, "seed"), 3L)
  expect_identical(attr(res, "universe"), as.double(length(res$gene)))
  expect_identical(attr(res, "version"), as.character(utils::packageVersion("korvelan")))
})

test_that("the three shapes of the same studies give the same numbers", {
  x <- small_lists()
  # The numbers and their attributes; the run's record names the input's
  # shape, which differs by design.
  run <- function(input) {
    res <- korvelan(input, runs = 5L, seed = 9L, absent = "missing", verbose = FALSE)
    attr(res, "run") <- attr(res, "report_page") <- NULL
    res
  }
  from_lists <- run(x)
  expect_identical(run(lists_to_long(x)), from_lists)
  expect_identical(run(lists_to_matrix(x)), from_lists)
  expect_identical(run(as.data.frame(lists_to_matrix(x))), from_lists)
  # Factors are read as their labels.
  expect_identical(run(lapply(x, factor, levels = rev(unique(unlist(x))))), from_lists)
})

test_that("absent: below for lists, missing for tables, as given otherwise", {
  x <- small_lists()
  below <- korvelan(x, runs = 2L, seed = 1L, verbose = FALSE)
  missing <- korvelan(lists_to_matrix(x), runs = 2L, seed = 1L, verbose = FALSE)
  unlisted <- which(is.na(match(below$gene, x$study1)))
  union <- length(below$gene)
  expect_true(all(below$rank_study1[unlisted] == (200 + 1 + union) / 2))
  expect_true(all(is.na(missing$rank_study1[unlisted])))
  expect_identical(korvelan(x, runs = 2L, seed = 1L, absent = "missing", verbose = FALSE)$R_mean,
                   missing$R_mean)
  # A universe larger than the union adds places below every list.
  wide <- korvelan(x, runs = 2L, seed = 1L, universe = 1000, verbose = FALSE)
  expect_identical(attr(wide, "universe"), 1000)
  expect_true(all(wide$rank_study1[unlisted] == (200 + 1 + 1000) / 2))
  ids <- c(unique(unlist(x)), "extra1", "extra2")
  listed <- korvelan(x, runs = 2L, seed = 1L, universe = ids, verbose = FALSE)
  expect_identical(listed$gene, ids)
})

test_that("min_studies leaves genes of fewer lists out with NA statistics", {
  x <- small_lists()
  res <- korvelan(x, runs = 2L, seed = 1L, min_studies = 5L, absent = "missing", verbose = FALSE)
  few <- res$n_studies < 5L
  expect_true(any(few))
  expect_true(all(is.na(res$p_Rmean_left[few])) && all(is.na(res$q_Rmean_left[few])))
  expect_false(anyNA(res$p_Rmean_left[!few]))
})

test_that("set.seed makes a run reproducible; threads never change a result", {
  x <- small_lists()
  # run.json records the clock at the start (two runs may straddle a
  # second) and the threads (the default is the machine's).
  unclocked <- function(res) {
    attr(res, "run") <- gsub("\"(started_utc|threads)\": [^,\n]*", "", attr(res, "run"))
    res
  }
  set.seed(42)
  a <- unclocked(korvelan(x, runs = 10L, verbose = FALSE))
  set.seed(42)
  b <- unclocked(korvelan(x, runs = 10L, threads = 2L, verbose = FALSE))
  expect_identical(a, b)
  expect_identical(unclocked(korvelan(x, runs = 10L, seed = attr(a, "seed"), verbose = FALSE)), a)
  set.seed(43)
  expect_false(identical(attr(korvelan(x, runs = 1L, verbose = FALSE), "seed"), attr(a, "seed")))
})

test_that("threads default to the library's default, at most 2 under R CMD check's limit", {
  hardware <- .Call(korvelan:::korvelan_default_threads)
  old <- Sys.getenv("_R_CHECK_LIMIT_CORES_", NA)
  on.exit(if (is.na(old)) Sys.unsetenv("_R_CHECK_LIMIT_CORES_")
          else Sys.setenv(`_R_CHECK_LIMIT_CORES_` = old))
  cases <- list(
    list(name = "unset", value = NA, expected = hardware),
    list(name = "empty", value = "", expected = hardware),
    list(name = "TRUE", value = "TRUE", expected = min(hardware, 2L)),
    list(name = "warn", value = "warn", expected = min(hardware, 2L)),
    list(name = "false", value = "false", expected = hardware))
  for (case in cases) {
    if (is.na(case$value)) Sys.unsetenv("_R_CHECK_LIMIT_CORES_")
    else Sys.setenv(`_R_CHECK_LIMIT_CORES_` = case$value)
    expect_identical(korvelan:::.default_threads(), case$expected, label = case$name)
  }
  expect_gte(hardware, 1L)
})

test_that("plus-one P-values are never 0; exact ones may be", {
  # One study ranks the same genes at the top as the others do: their
  # observed R-mean is below every run value of one run.
  x <- small_lists(listed = 300L)
  x$study2 <- x$study3 <- x$study4 <- x$study5 <- x$study1
  plus <- korvelan(x, runs = 1L, seed = 5L, verbose = FALSE)
  exact <- korvelan(x, runs = 1L, seed = 5L, pvalues = "exact", verbose = FALSE)
  expect_true(all(plus$p_Rmean_left > 0))
  expect_true(any(exact$p_Rmean_left == 0))
  expect_identical(plus$R_mean, exact$R_mean)
})

test_that("print, summary and plot show the result", {
  res <- korvelan(small_lists(), runs = 3L, seed = 5L, verbose = FALSE)
  out <- capture.output(print(res, n = 4L))
  expect_match(out[1L], "KORVELAN")
  expect_true(any(grepl("runs 3, seed 5", out, fixed = TRUE)))
  top <- res$gene[order(res$p_Rmean_left, res$R_mean, res$gene, method = "radix")][1:4]
  expect_true(all(vapply(top, function(g) any(grepl(g, out, fixed = TRUE)), logical(1))))
  s <- summary(res)
  expect_identical(dim(s$counts), c(5L, 6L))
  expect_identical(s$counts["q < 0.25", "q_Rmean_left"], as.double(sum(res$q_Rmean_left < 0.25)))
  expect_output(print(s), "q < 0.05")
  grDevices::pdf(NULL)
  on.exit(grDevices::dev.off())
  expect_invisible(plot(res))
})

test_that("run.json and the page, made when first read, survive saveRDS unread", {
  x <- small_lists()
  res <- korvelan(x, runs = 5L, seed = 3L, verbose = FALSE)
  again <- korvelan(x, runs = 5L, seed = 3L, verbose = FALSE)
  file <- tempfile(fileext = ".rds")
  pages <- tempfile(fileext = c(".1.html", ".2.html"))
  on.exit(unlink(c(file, pages)))
  saveRDS(res, file)
  back <- readRDS(file)
  # The page depends on neither the clock nor the call: the same for both runs.
  expect_identical(attr(back, "report_page"), attr(again, "report_page"))
  expect_identical(attr(back, "run"), attr(res, "run"))
  expect_match(attr(back, "run"), "\"program\": \"korvelan (R)\"", fixed = TRUE)
  write_report(back, pages[1L])
  write_report(res, pages[2L])
  expect_identical(unname(tools::md5sum(pages[1L])), unname(tools::md5sum(pages[2L])))
  expect_identical(as.double(nchar(attr(res, "report_page"), type = "bytes")),
                   file.size(pages[1L]))
})

test_that("a matrix's repeated row name is merged by duplicates as the merged matrix", {
  m <- lists_to_matrix(small_lists(studies = 3L, genes = 40L, listed = 30L))
  m[is.na(m)] <- 35
  twice <- rbind(m, m[2L, ] + c(-5, 7, 0.5))
  rownames(twice)[nrow(twice)] <- rownames(m)[2L]
  both <- twice[c(2L, nrow(twice)), ]
  merged <- list(first = both[1L, ], best = apply(both, 2L, min), mean = colMeans(both))
  plain <- function(res) {
    attr(res, "run") <- attr(res, "report_page") <- NULL
    res
  }
  for (duplicates in names(merged)) {
    expected <- m
    expected[2L, ] <- merged[[duplicates]]
    expect_identical(plain(korvelan(twice, runs = 5L, seed = 2L, duplicates = duplicates,
                                    verbose = FALSE)),
                     plain(korvelan(expected, runs = 5L, seed = 2L, verbose = FALSE)),
                     info = duplicates)
  }
})

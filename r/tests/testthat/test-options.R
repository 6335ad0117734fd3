# The options korvelan() shares with korvelan-meta: a value either refuses
# is refused by both, in the same words after the option's name.
meta_exe <- function() {
  exe <- Sys.getenv("KORVELAN_META")
  if (!nzchar(exe) || !file.exists(exe)) skip("KORVELAN_META is not set")
  exe
}

# korvelan-meta's words after "--<option> " for `value`, before it reads
# any file (the files named need not exist).
cli_refusal <- function(option, value) {
  dir <- tempfile()
  err <- suppressWarnings(system2(meta_exe(), c("a.txt", "b.txt", "-o", dir, paste0("--", option),
                                                 shQuote(value)), stdout = FALSE, stderr = TRUE))
  expect_equal(attr(err, "status"), 2L, info = paste(option, value))
  expect_false(dir.exists(dir))
  prefix <- paste0("korvelan-meta: --", option, " ")
  suffix <- " (see korvelan-meta --help)"
  line <- err[startsWith(err, prefix)]
  expect_length(line, 1L)
  substr(line, nchar(prefix) + 1L, nchar(line) - nchar(suffix))
}

x <- small_lists(studies = 3L, genes = 30L, listed = 20L)

# (argument, korvelan-meta option, value as R passes it, as typed)
refused <- list(
  list("runs", "runs", 0L, "0"),
  list("runs", "runs", 2147483648, "2147483648"),
  list("seed", "seed", 0, "0"),
  list("seed", "seed", 2147483647, "2147483647"),
  list("threads", "threads", 0L, "0"),
  list("threads", "threads", 257L, "257"),
  list("min_studies", "min-studies", 0L, "0"),
  list("min_studies", "min-studies", 99L, "99"),
  list("absent", "absent", "above", "above"),
  list("pvalues", "pvalues", "plus_one", "plus_one")
)

for (case in refused) {
  test_that(paste("refused alike:", case[[1]], case[[4]]), {
    problem <- cli_refusal(case[[2]], case[[4]])
    args <- list(x, seed = 1L, runs = 5L, verbose = FALSE)
    args[[case[[1]]]] <- case[[3]]
    error <- tryCatch(do.call(korvelan, args), error = function(e) e)
    expect_s3_class(error, "error")
    expect_identical(conditionMessage(error), paste0("`", case[[1]], "` ", problem))
  })
}

test_that("every argument korvelan-meta has is one of the library's shared options", {
  shown <- system2(meta_exe(), "--help", stdout = TRUE)
  # The studies, a study sheet (korvelan-meta's --studies given a file),
  # classes (no front end takes them) and R's own verbosity.
  host_only <- c("x", "sheet", "classes", "verbose")
  for (name in setdiff(names(formals(korvelan)), host_only)) {
    option <- paste0("--", gsub("_", "-", name, fixed = TRUE))
    expect_true(any(grepl(paste0(option, "( |$)"), shown)), info = name)
    # The library refuses a name it does not share.
    expect_error(.Call(korvelan:::korvelan_option_problem, name, "1"), NA, info = name)
  }
  expect_error(.Call(korvelan:::korvelan_option_problem, "top", "1"), "no shared option")
})

test_that("every argument of korvelan() and write_report() is documented, and no other", {
  for (fun in c("korvelan", "write_report")) {
    rd <- tools::parse_Rd(file.path(repo_dir(), "r", "man", paste0(fun, ".Rd")))
    arguments <- Filter(function(part) identical(attr(part, "Rd_tag"), "\\arguments"), rd)[[1L]]
    items <- Filter(function(part) identical(attr(part, "Rd_tag"), "\\item"), arguments)
    documented <- unlist(lapply(items, function(item) strsplit(paste(unlist(item[[1L]]), collapse = ""),
                                                                ",\\s*")[[1L]]))
    expect_setequal(documented, names(formals(get(fun, asNamespace("korvelan")))))
  }
})

# R's interrupt (SIGINT, as Ctrl-C sends it) during a long analysis: the call
# ends with an interrupt condition soon after, and the session goes on.
# A child R process is interrupted by a shell started from it.

run_child <- function(code, interactive = FALSE) {
  skip_on_os("windows")
  script <- tempfile(fileext = ".R")
  on.exit(unlink(script))
  writeLines(c(sprintf(".libPaths(%s)", paste(deparse(.libPaths()), collapse = "")), code), script)
  r <- file.path(R.home("bin"), "R")
  args <- c("--vanilla", "--no-echo", if (interactive) "--interactive")
  suppressWarnings(system2(r, args, stdin = script, stdout = TRUE, stderr = TRUE))
}

long_run <- c(
  "library(korvelan)",
  "x <- lapply(1:5, function(j) paste0('g', sample.int(20000)))",
  "names(x) <- paste0('s', 1:5)",
  # The shell sends SIGINT 1 s after the marker file appears, right
  # before the call: never while R is still starting the shell.
  "marker <- tempfile()",
  "system(sprintf(paste('(i=0; while [ ! -e %s ] && [ $i -lt 1200 ]; do sleep 0.05; i=$((i+1)); done;',",
  "                      'sleep 1; kill -INT %d) >/dev/null 2>&1'), marker, Sys.getpid()),",
  "       wait = FALSE)",
  "file.create(marker)",
  "t0 <- Sys.time()")

test_that("an interrupt ends a long run with an interrupt condition", {
  out <- run_child(c(long_run,
    "r <- tryCatch(korvelan(x, runs = 1000000L, seed = 1L, verbose = FALSE),",
    "              interrupt = function(e) 'interrupt condition')",
    "cat('result:', r, '\\n')",
    "cat('seconds:', format(as.double(Sys.time() - t0, units = 'secs')), '\\n')",
    "cat('next:', nrow(korvelan(x[1:2], runs = 1L, seed = 1L, verbose = FALSE)), '\\n')"))
  expect_true("result: interrupt condition " %in% out, info = paste(out, collapse = "\n"))
  expect_true("next: 20000 " %in% out, info = paste(out, collapse = "\n"))
  # A million runs take hours; interrupted after a second, the call ends
  # almost at once (the bound is loose: the machine may be busy).
  seconds <- as.double(sub("seconds: ", "", grep("^seconds:", out, value = TRUE)))
  expect_lt(seconds, 30)
})

test_that("at an interactive top level, the next expression runs", {
  out <- run_child(c(long_run,
    "res <- korvelan(x, runs = 1000000L, seed = 1L, verbose = TRUE)",
    "cat('next expression ran; result exists:', exists('res'), '\\n')"), interactive = TRUE)
  expect_true("next expression ran; result exists: FALSE " %in% out,
              info = paste(out, collapse = "\n"))
})

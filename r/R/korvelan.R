# korvelan(): shapes R's inputs into studies and options for the library's
# RunMeta and its results table into a data.frame. Every statistic is
# computed by the library; the checks here exist to give R users messages in
# R's terms (argument names, list elements) before the library is called.

korvelan <- function(x = NULL, weights = NULL, classes = NULL, runs = 1000L, seed = NULL,
                     threads = NULL, absent = NULL, universe = NULL, min_studies = 1L,
                     pvalues = c("plus-one", "exact"), verbose = interactive(),
                     studies = NULL, sheet = NULL, input_format = "auto", gene = NULL,
                     pvalue = NULL, statistic = NULL, sign_by = NULL, first = "largest",
                     delimiter = "auto", duplicates = NULL, split_ids = NULL,
                     sort_by = "p_Rmean_left") {
  call <- match.call()
  fail <- function(...) stop(simpleError(paste0(...), call))

  if (!is.null(classes)) {
    fail("`classes` cannot be given: a gene's information class is the number of ",
         "studies that rank it, which the analysis computes itself")
  }
  settings <- .meta_settings(list(input_format = input_format, gene = gene, pvalue = pvalue,
                                  statistic = statistic, sign_by = sign_by, first = first,
                                  delimiter = delimiter, duplicates = duplicates,
                                  split_ids = split_ids, sort_by = sort_by), fail)
  read <- .read_input(x, sheet, fail)
  if (!is.null(read)) {
    return(.korvelan_read(read, settings, weights, runs, seed, threads, absent, universe,
                          min_studies, .shared_word(if (missing(pvalues)) "plus-one" else pvalues,
                                                    "pvalues", fail), verbose, studies, fail))
  }
  if (is.null(x)) fail("give `x` (the studies) or a study `sheet`")
  # Ranks given here: a repeated id is refused unless `duplicates` says how
  # to merge it, which the library then does as for korvelan-meta.
  if (!nzchar(settings$duplicates)) settings$duplicates <- "refuse"
  input <- .korvelan_input(x, settings$duplicates == "refuse", fail)
  n_studies <- input$n_studies
  if (n_studies < 2L) {
    fail("a meta-analysis needs at least 2 studies; `x` has ", n_studies)
  }
  if (n_studies > 98L) {
    fail("a meta-analysis takes at most 98 studies; `x` has ", n_studies)
  }

  if (is.null(absent)) {
    absent <- if (input$shape == "lists") "below" else "missing"
  }
  absent <- .shared_word(absent, "absent", fail)
  pvalues <- .shared_word(if (missing(pvalues)) "plus-one" else pvalues, "pvalues", fail)

  if (is.null(weights)) {
    weights <- numeric(0)
  } else {
    if (!is.numeric(weights)) fail("`weights` must be numeric")
    if (length(weights) != n_studies) {
      fail("`weights` must have one value per study (", n_studies, "), not ",
           length(weights))
    }
    if (!all(is.finite(weights))) fail("`weights` must be finite numbers (no NA)")
    weights <- as.double(weights)
  }

  runs <- .whole_number(runs, "runs", fail)
  if (is.null(threads)) threads <- .default_threads()
  threads <- .whole_number(threads, "threads", fail)
  min_studies <- .whole_number(min_studies, "min_studies", fail)
  if (is.null(seed)) {
    # From R's generator, so that set.seed() makes the analysis reproducible.
    seed <- sample.int(2147483646L, 1L)
  } else {
    seed <- .whole_number(seed, "seed", fail)
  }

  universe_size <- 0
  universe_ids <- character(0)
  if (!is.null(universe) && absent != "below" && is.null(studies)) {
    fail("`universe` applies to absent = \"below\" only")
  }
  if (!is.null(universe)) {
    if (is.character(universe) || is.factor(universe)) {
      universe_ids <- .gene_ids(universe, "`universe`", fail)
    } else if (is.numeric(universe) && length(universe) == 1L && is.finite(universe) &&
               universe >= 1 && universe == round(universe)) {
      universe_size <- as.double(universe)
    } else {
      fail("`universe` must be a number of genes or a character vector of gene ids")
    }
  }
  if (!is.logical(verbose) || length(verbose) != 1L || is.na(verbose)) {
    fail("`verbose` must be TRUE or FALSE")
  }

  per_study <- .study_settings(studies, .study_names(input), fail)
  if (length(per_study$weights)) {
    if (length(weights)) fail("give `weights` or a weight column in `studies`, not both")
    weights <- per_study$weights
  }
  options <- list(absent = absent, universe_size = universe_size,
                  universe_ids = universe_ids, min_studies = min_studies,
                  pvalues = pvalues, weights = weights, runs = runs, seed = seed,
                  threads = threads, duplicates = settings$duplicates,
                  study_absent = per_study$absent,
                  study_universe_size = per_study$universe_size,
                  study_universe_ids = per_study$universe_ids)
  settings$absent <- absent
  settings$pvalues <- pvalues
  settings$min_studies <- min_studies
  settings$runs <- runs
  out <- tryCatch(.Call(korvelan_run, input, options, verbose, settings),
                  error = function(e) fail(conditionMessage(e)))
  .korvelan_result(out, absent, pvalues, min_studies, length(weights) > 0L)
}

# The results list of the C++ side as korvelan()'s data.frame.
.korvelan_result <- function(out, absent, pvalues, min_studies, weighted) {
  if (identical(out$status, "interrupted")) .signal_interrupt()
  # The columns are a data frame's already (equal lengths, unique names):
  # made one in place, without as.data.frame's checks and copies.
  result <- out$columns
  attr(result, "row.names") <- .set_row_names(length(result[[1L]]))
  attr(result, "runs") <- out$runs
  attr(result, "seed") <- out$seed
  attr(result, "universe") <- out$universe
  attr(result, "version") <- out$version
  attr(result, "settings") <- list(absent = absent, pvalues = pvalues,
                                   min_studies = min_studies,
                                   weighted = weighted,
                                   genes_analysed = out$genes_analysed,
                                   classes = out$classes)
  attr(result, "run") <- out$run_json
  attr(result, "report_page") <- out$report_page
  class(result) <- c("korvelan_result", "data.frame")
  result
}

# The analysis was stopped by the user's interrupt, which the C++ side
# consumed while polling for it: hand it on as R's own interrupt would come,
# to interrupt handlers first, otherwise back to the top level.
.signal_interrupt <- function() {
  cond <- structure(list(message = "korvelan() was interrupted", call = NULL),
                    class = c("interrupt", "condition"))
  signalCondition(cond)
  invokeRestart("abort")
}

# The shared options (korvelan/options.h) are judged by the library, which
# gives korvelan-meta's and the Python package's words for a refused value.
.option_problem <- function(name, text, fail) {
  problem <- .Call(korvelan_option_problem, name, text)
  if (!is.null(problem)) fail("`", name, "` ", problem)
}

.whole_number <- function(value, name, fail) {
  if (!is.numeric(value) || length(value) != 1L || is.na(value) || !is.finite(value) ||
      value != round(value)) {
    fail("`", name, "` must be a whole number, not ", deparse(value)[1L])
  }
  .option_problem(name, format(value, scientific = FALSE), fail)
  as.integer(value)
}

.shared_word <- function(value, name, fail) {
  if (!is.character(value) || length(value) != 1L || is.na(value)) {
    fail("`", name, "` must be a single character string, not ", deparse(value)[1L])
  }
  .option_problem(name, value, fail)
  value
}

.gene_ids <- function(ids, what, fail) {
  if (is.factor(ids)) ids <- as.character(ids)
  if (!is.character(ids)) fail(what, " must hold gene ids as character strings")
  if (anyNA(ids)) fail(what, " has an NA gene id (at position ", which(is.na(ids))[1L], ")")
  enc2utf8(ids)
}

.first_duplicate <- function(ids) ids[anyDuplicated(ids)]

# The three input shapes, as the list korvelan_run reads. With `refuse`, a
# gene twice in one study is refused here, in R's terms (the list element,
# the row, the row name); otherwise the library merges its ranks.
.korvelan_input <- function(x, refuse, fail) {
  if (is.data.frame(x) && all(c("study", "gene", "rank") %in% names(x))) {
    return(.long_input(x, refuse, fail))
  }
  if (is.matrix(x) || is.data.frame(x)) return(.table_input(x, refuse, fail))
  if (is.list(x)) return(.lists_input(x, refuse, fail))
  fail("`x` must be a named list of ranked gene ids, a numeric matrix or data.frame of ",
       "genes x studies, or a data.frame with columns study, gene and rank")
}

.lists_input <- function(x, refuse, fail) {
  if (length(x) == 0L) fail("`x` is an empty list: give at least 2 studies")
  studies <- names(x)
  if (is.null(studies) || anyNA(studies) || any(studies == "")) {
    fail("`x` must be a named list: every study needs a name")
  }
  if (anyDuplicated(studies)) fail("two studies in `x` are named \"", .first_duplicate(studies), "\"")
  lists <- vector("list", length(x))
  for (j in seq_along(x)) {
    what <- paste0("x[[\"", studies[j], "\"]]")
    ids <- x[[j]]
    if (!(is.character(ids) || is.factor(ids))) {
      fail(what, " must be a character vector of gene ids, best first")
    }
    ids <- .gene_ids(ids, what, fail)
    if (length(ids) == 0L) fail(what, " is empty")
    if (refuse && anyDuplicated(ids)) {
      fail(what, " lists gene \"", .first_duplicate(ids), "\" twice (`duplicates` chooses ",
           "\"first\", \"best\" or \"mean\")")
    }
    lists[[j]] <- ids
  }
  list(shape = "lists", lists = lists, names = enc2utf8(studies), n_studies = length(x))
}

.table_input <- function(x, refuse, fail) {
  genes <- rownames(x)
  if (is.data.frame(x)) {
    numeric_columns <- vapply(x, is.numeric, logical(1))
    if (!all(numeric_columns)) {
      fail("every column of `x` must be numeric ranks; not numeric: ",
           paste(names(x)[!numeric_columns], collapse = ", "),
           " (a long table needs the columns study, gene and rank)")
    }
    if (.row_names_info(x) < 0L) fail("`x` needs row names: the gene ids")
    x <- as.matrix(x)
  } else if (!is.numeric(x)) {
    fail("`x` is a ", typeof(x), " matrix: it must be a numeric matrix of ranks ",
         "(genes x studies, NA for not ranked)")
  }
  if (ncol(x) == 0L) fail("`x` has no studies (no columns)")
  if (nrow(x) == 0L) fail("`x` has no genes (no rows)")
  if (is.null(genes)) fail("`x` needs row names: the gene ids")
  genes <- .gene_ids(genes, "the row names of `x`", fail)
  if (refuse && anyDuplicated(genes)) {
    fail("gene \"", .first_duplicate(genes), "\" is listed twice in every study of `x` ",
         "(duplicated row name; `duplicates` chooses \"first\", \"best\" or \"mean\")")
  }
  studies <- colnames(x)
  if (is.null(studies) || anyNA(studies) || any(studies == "")) {
    fail("`x` needs column names: the study names")
  }
  if (anyDuplicated(studies)) fail("two studies in `x` are named \"", .first_duplicate(studies), "\"")
  values <- as.double(x)
  bad <- which(is.infinite(values))
  if (length(bad)) {
    i <- (bad[1L] - 1L) %% nrow(x) + 1L
    j <- (bad[1L] - 1L) %/% nrow(x) + 1L
    fail("`x` has a non-finite rank (", values[bad[1L]], ") for gene \"", genes[i],
         "\" in study \"", studies[j], "\"; use NA for not ranked")
  }
  list(shape = "table", genes = genes, studies = enc2utf8(studies), values = values,
       n_studies = ncol(x))
}

.long_input <- function(x, refuse, fail) {
  if (nrow(x) == 0L) fail("`x` has no rows")
  study <- x$study
  if (is.factor(study) || is.numeric(study)) study <- as.character(study)
  if (!is.character(study) || anyNA(study) || any(study == "")) {
    fail("the study column of `x` must name a study in every row (no NA)")
  }
  gene <- .gene_ids(x$gene, "the gene column of `x`", fail)
  rank <- x$rank
  if (!is.numeric(rank)) fail("the rank column of `x` must be numeric")
  rank <- as.double(rank)
  bad <- which(!is.finite(rank))
  if (length(bad)) {
    fail("the rank column of `x` has ", rank[bad[1L]], " in row ", bad[1L],
         " (study \"", study[bad[1L]], "\", gene \"", gene[bad[1L]],
         "\"): every row needs a finite rank; leave out genes a study did not rank")
  }
  key <- if (refuse) paste(study, gene, sep = "\r") else character(0)
  if (anyDuplicated(key)) {
    k <- anyDuplicated(key)
    fail("study \"", study[k], "\" lists gene \"", gene[k], "\" twice (row ", k, "; ",
         "`duplicates` chooses \"first\", \"best\" or \"mean\")")
  }
  list(shape = "long", study = enc2utf8(study), gene = gene, value = rank,
       n_studies = length(unique(study)))
}

# The library's shortest exact decimal of each value, as results.tsv writes
# it ("NA" for NA): for comparing with the library's text digit for digit.
.format_number <- function(x, single = FALSE) {
  .Call(korvelan_format_number, as.double(x), isTRUE(single))
}

# The study names in the order the analysis takes the studies.
.study_names <- function(input) {
  switch(input$shape, lists = input$names, table = input$studies, long = unique(input$study))
}

# Per-study settings from a data frame shaped like korvelan-meta's study
# sheet (columns study, and any of weight, absent, universe), in the order
# of `names`; a missing cell (NA, NULL) takes the argument of that name.
.study_settings <- function(studies, names, fail) {
  none <- list(absent = character(0), universe_size = numeric(0), universe_ids = list(),
               weights = numeric(0))
  if (is.null(studies)) return(none)
  if (!is.data.frame(studies)) fail("`studies` must be a data frame with a column \"study\"")
  unknown <- setdiff(names(studies), c("study", "weight", "absent", "universe"))
  if (length(unknown)) {
    fail("`studies` has the column \"", unknown[1L], "\", not one of study, weight, absent, universe")
  }
  if (!("study" %in% names(studies))) fail("`studies` needs a column \"study\" naming each study")
  study <- enc2utf8(as.character(studies$study))
  if (anyDuplicated(study)) fail("`studies` names \"", study[anyDuplicated(study)], "\" twice")
  if (length(setdiff(names, study))) fail("`studies` has no row for study \"", setdiff(names, study)[1L], "\"")
  if (length(setdiff(study, names))) fail("`studies` names \"", setdiff(study, names)[1L], "\", which is not a study of `x`")
  row <- match(names, study)
  cell <- function(column, k) if (column %in% names(studies)) studies[[column]][[row[k]]] else NULL
  out <- none
  for (k in seq_along(names)) {
    absent <- cell("absent", k)
    absent <- if (is.null(absent) || is.na(absent)) "" else as.character(absent)
    if (!(absent %in% c("", "below", "missing"))) {
      fail("`studies`: absent of study \"", names[k], "\" must be \"below\" or \"missing\"")
    }
    universe <- cell("universe", k)
    size <- 0
    ids <- character(0)
    if (is.character(universe) || is.factor(universe)) {
      ids <- .gene_ids(universe, paste0("the universe of study \"", names[k], "\""), fail)
    } else if (is.numeric(universe) && length(universe) == 1L && !is.na(universe)) {
      if (!is.finite(universe) || universe < 1 || universe != round(universe)) {
        fail("`studies`: the universe of study \"", names[k], "\" must be a number of genes or gene ids")
      }
      size <- as.double(universe)
    }
    out$absent[k] <- absent
    out$universe_size[k] <- size
    out$universe_ids[[k]] <- ids
  }
  if ("weight" %in% names(studies)) {
    w <- as.double(studies$weight[row])
    out$weights <- ifelse(is.na(w), 1, w)
  }
  out
}

# The library's default (korvelan/options.h), lowered to 2 where R CMD check
# sets _R_CHECK_LIMIT_CORES_, as CRAN's checks demand of every example and
# test.
.default_threads <- function() {
  n <- .Call(korvelan_default_threads)
  limit <- Sys.getenv("_R_CHECK_LIMIT_CORES_", "")
  if (nzchar(limit) && !identical(tolower(limit), "false")) n <- min(n, 2L)
  as.integer(n)
}

# korvelan-meta's settings from korvelan()'s arguments: NULL is "not
# given" (an empty text).
.meta_settings <- function(values, fail) {
  lapply(stats::setNames(names(values), names(values)), function(name) {
    v <- values[[name]]
    if (is.null(v)) return("")
    if (!is.character(v) || length(v) != 1L || is.na(v)) {
      fail("`", name, "` must be one character string")
    }
    .option_problem(name, v, fail)
    enc2utf8(v)
  })
}

# A differential-expression result as a plain data.frame: limma's topTable
# is one; DESeq2's results (a DataFrame, S4) and edgeR's topTags (its
# $table) are turned into one, without depending on either package.
.de_frame <- function(t) {
  if (is.data.frame(t)) return(t)
  if (inherits(t, "DataFrame")) return(as.data.frame(t))
  if ((is.list(t) || isS4(t)) && !is.null(tryCatch(t$table, error = function(e) NULL)) &&
      is.data.frame(t$table)) return(t$table)
  NULL
}

# A table for the library's reader: numeric columns as doubles, the others
# as text ("" for NA); row names, unless automatic, first as "row.names",
# as write.table() puts them.
.memory_table <- function(study, t) {
  columns <- list()
  if (.row_names_info(t) > 0L) columns[["row.names"]] <- enc2utf8(rownames(t))
  for (name in names(t)) {
    v <- t[[name]]
    if (is.numeric(v)) {
      v <- as.double(v)
    } else {
      v <- as.character(v)
      v[is.na(v)] <- ""
      v <- enc2utf8(v)
    }
    columns[[name]] <- v
  }
  list(study = enc2utf8(study), columns = columns)
}

# What the library reads itself: files (a character vector of paths), a
# study sheet, or a list of DE tables; NULL for the other shapes of `x`.
.read_input <- function(x, sheet, fail) {
  if (!is.null(sheet)) {
    if (!is.null(x)) fail("give `x` or a study `sheet`, not both")
    if (!is.character(sheet) || length(sheet) != 1L || is.na(sheet)) {
      fail("`sheet` must be the path of a study sheet")
    }
    return(list(shape = "files", files = character(0), sheet = enc2utf8(path.expand(sheet))))
  }
  if (is.character(x) && !is.matrix(x)) {
    if (length(x) == 0L || anyNA(x)) fail("`x` as file paths must name at least one file (no NA)")
    return(list(shape = "files", files = enc2utf8(path.expand(x)), sheet = ""))
  }
  if (is.list(x) && !is.data.frame(x) && length(x) > 0L) {
    frames <- lapply(x, .de_frame)
    if (all(!vapply(frames, is.null, logical(1)))) {
      names <- names(x)
      if (is.null(names)) names <- paste0("study", seq_along(x))
      if (anyNA(names) || any(names == "")) fail("every table in `x` needs a name")
      return(list(shape = "frames", tables = Map(.memory_table, names, frames)))
    }
  }
  NULL
}

.korvelan_read <- function(input, settings, weights, runs, seed, threads, absent, universe,
                           min_studies, pvalues, verbose, studies, fail) {
  settings$absent <- if (is.null(absent)) "" else .shared_word(absent, "absent", fail)
  settings$pvalues <- pvalues
  settings$runs <- .whole_number(runs, "runs", fail)
  settings$min_studies <- .whole_number(min_studies, "min_studies", fail)
  universe_ids <- character(0)
  settings$universe <- ""
  if (is.character(universe) && length(universe) == 1L && !is.na(universe) && file.exists(universe)) {
    settings$universe <- enc2utf8(path.expand(universe))
  } else if (is.character(universe) || is.factor(universe)) {
    universe_ids <- .gene_ids(universe, "`universe`", fail)
  } else if (!is.null(universe)) {
    settings$universe <- format(.whole_number(universe, "universe", fail))
  }
  if (is.null(weights)) weights <- numeric(0)
  if (!is.numeric(weights) || !all(is.finite(weights))) fail("`weights` must be finite numbers")
  if (is.null(threads)) threads <- .default_threads()
  seed <- if (is.null(seed)) sample.int(2147483646L, 1L) else .whole_number(seed, "seed", fail)
  if (!is.null(studies)) fail("`studies` applies to studies given as ranks; a `sheet` holds per-study settings")
  if (!is.logical(verbose) || length(verbose) != 1L || is.na(verbose)) {
    fail("`verbose` must be TRUE or FALSE")
  }
  options <- list(absent = "missing", universe_size = 0, universe_ids = universe_ids,
                  min_studies = settings$min_studies, pvalues = pvalues,
                  weights = as.double(weights), runs = settings$runs, seed = seed,
                  threads = .whole_number(threads, "threads", fail),
                  study_absent = character(0), study_universe_size = numeric(0),
                  study_universe_ids = list(),
                  # Unused: the library settles it from settings$duplicates.
                  duplicates = "refuse")
  out <- tryCatch(.Call(korvelan_read_run, input, options, verbose, settings),
                  error = function(e) {
                    # The library words this for korvelan-meta's command line.
                    fail(sub("--universe applies to --absent below",
                             "`universe` applies to absent = \"below\" only",
                             conditionMessage(e), fixed = TRUE))
                  })
  if (identical(out$status, "interrupted")) .signal_interrupt()
  .korvelan_result(out, out$absent, pvalues, settings$min_studies, length(weights) > 0L)
}

write_report <- function(result, path) {
  page <- attr(result, "report_page")
  if (!is.character(page) || length(page) != 1L) {
    stop("`result` must be a result of korvelan() as it returned it (its attributes hold the run)")
  }
  if (!is.character(path) || length(path) != 1L || is.na(path)) stop("`path` must be one file path")
  path <- path.expand(path)
  # The page goes to a temporary file beside `path`, renamed over it once
  # whole: a failed write leaves no half page.
  temporary <- tempfile(".report-", tmpdir = dirname(path), fileext = ".tmp")
  on.exit(if (file.exists(temporary)) unlink(temporary), add = TRUE)
  connection <- file(temporary, open = "wb")
  tryCatch(writeBin(charToRaw(enc2utf8(page)), connection), finally = close(connection))
  if (!file.rename(temporary, path)) stop("cannot write ", path)
  invisible(path)
}

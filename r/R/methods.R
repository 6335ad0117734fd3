# Printing, summarising and plotting a korvelan() result. They read the
# table korvelan() returned and compute nothing new but orderings and counts.

.pvalue_columns <- c("p_Rmean_right", "p_Rmean_left", "p_Rwmean_right",
                     "p_Rwmean_left", "p_Q_right", "p_Q_left")

# results.tsv's row order by one P column: ascending, ties by R-mean, then by
# gene id in byte order (the radix method sorts strings in the C locale),
# NA last in both keys.
.result_order <- function(x, by = "p_Rmean_left") {
  order(x[[by]], x[["R_mean"]], x[["gene"]], method = "radix", na.last = TRUE)
}

print.korvelan_result <- function(x, n = 10L, ...) {
  settings <- attr(x, "settings")
  runs <- attr(x, "runs")
  cat("KORVELAN rank-based meta-analysis",
      if (!is.null(attr(x, "version"))) paste0("(version ", attr(x, "version"), ")"), "\n")
  studies <- sub("^rank_", "", grep("^rank_", names(x), value = TRUE))
  # A column subset may hold no rank_ column: then the studies are not known.
  if (length(studies)) {
    cat(nrow(x), "genes,", length(studies), "studies:", paste(studies, collapse = ", "), "\n")
  } else {
    cat(nrow(x), " genes\n", sep = "")
  }
  if (!is.null(settings)) {
    cat("runs ", runs, ", seed ", attr(x, "seed"), ", P-values ", settings$pvalues,
        ", absent genes ", settings$absent, " (universe ", format(attr(x, "universe")),
        "), min_studies ", settings$min_studies, ", ",
        if (isTRUE(settings$weighted)) "weighted" else "equal weights", "\n", sep = "")
  }
  shown <- min(as.integer(n), nrow(x))
  if (shown > 0L && all(c("p_Rmean_left", "R_mean", "gene") %in% names(x))) {
    cat("Top ", shown, " genes by p_Rmean_left (consistently top-ranked):\n", sep = "")
    top <- as.data.frame(x)[head(.result_order(x), shown),
                            intersect(c("gene", "n_studies", "R_mean", "Q", "p_Rmean_left",
                                        "q_Rmean_left"), names(x)), drop = FALSE]
    rownames(top) <- NULL
    print(top, digits = 4)
  }
  invisible(x)
}

summary.korvelan_result <- function(object, thresholds = c(0.001, 0.01, 0.05, 0.1, 0.25), ...) {
  qcols <- intersect(sub("^p_", "q_", .pvalue_columns), names(object))
  counts <- vapply(qcols, function(col) {
    q <- object[[col]]
    vapply(thresholds, function(t) sum(!is.na(q) & q < t), numeric(1))
  }, numeric(length(thresholds)))
  counts <- matrix(counts, nrow = length(thresholds),
                   dimnames = list(paste0("q < ", thresholds), qcols))
  structure(list(counts = counts, genes = nrow(object), runs = attr(object, "runs"),
                 seed = attr(object, "seed")),
            class = "summary_korvelan_result")
}

print.summary_korvelan_result <- function(x, ...) {
  cat("KORVELAN result:", x$genes, "genes,", x$runs, "runs, seed", x$seed, "\n")
  cat("Genes with a q-value below each threshold:\n")
  print(x$counts)
  invisible(x)
}

plot.korvelan_result <- function(x, ...) {
  old <- par(mfrow = c(3L, 3L), mar = c(4, 4, 2, 1))
  on.exit(par(old))
  for (col in intersect(.pvalue_columns, names(x))) {
    p <- x[[col]][!is.na(x[[col]])]
    if (length(p)) {
      hist(p, breaks = seq(0, 1, by = 0.05), main = col, xlab = "P-value", col = "grey80")
    } else {
      plot.new()
      title(main = paste(col, "(all NA)"))
    }
  }
  keep <- !is.na(x$R_mean) & !is.na(x$Q)
  classes <- x$n_studies[keep]
  levels <- sort(unique(classes))
  colours <- if (length(levels)) hcl.colors(length(levels), "Dark 3") else character(0)
  plot(x$R_mean[keep], x$Q[keep], col = colours[match(classes, levels)], pch = 20, cex = 0.5,
       xlab = "R-mean", ylab = "Q", main = "Q against R-mean")
  if (length(levels)) {
    legend("topright", legend = paste(levels, "studies"), col = colours, pch = 20, cex = 0.7,
           bty = "n")
  }
  invisible(x)
}

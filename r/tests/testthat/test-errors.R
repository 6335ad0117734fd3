# Bad input ends in an R error that says what is wrong, never a crash.
x <- small_lists(studies = 3L, genes = 30L, listed = 20L)
long <- lists_to_long(x)
m <- lists_to_matrix(x)

with_na_rank <- long
with_na_rank$rank[4] <- NA
with_inf <- m
with_inf[2, 2] <- Inf
with_na_gene <- x
with_na_gene$study2[3] <- NA
twice <- x
twice$study3[5] <- twice$study3[1]
long_twice <- rbind(long, long[7, ])
m_twice <- m
rownames(m_twice)[3] <- rownames(m_twice)[1]
unnamed <- unname(x)
many <- rep(x, length.out = 99L)
names(many) <- paste0("s", seq_along(many))
short <- x
short$study2 <- "g0001"
df_chr <- as.data.frame(m)
df_chr$study2 <- as.character(df_chr$study2)

bad <- list(
  list("NA rank in a long table", quote(korvelan(with_na_rank)), "rank column .* NA in row 4"),
  list("Inf rank in a matrix", quote(korvelan(with_inf)), "non-finite rank \\(Inf\\)"),
  list("NA gene id", quote(korvelan(with_na_gene)), "x\\[\\[\"study2\"\\]\\] has an NA gene id"),
  list("gene twice in a list", quote(korvelan(twice)), "lists gene \".*\" twice"),
  list("gene twice in a long table", quote(korvelan(long_twice)), "lists gene \".*\" twice \\(row"),
  list("duplicated row name", quote(korvelan(m_twice)), "listed twice .*duplicated row name"),
  list("empty list", quote(korvelan(list())), "empty list"),
  list("empty study", quote(korvelan(c(x, list(none = character(0))))), "none.* is empty"),
  list("study of one gene", quote(korvelan(short)), "study2"),
  list("unnamed list", quote(korvelan(unnamed)), "named list"),
  list("numbers in a list", quote(korvelan(list(a = 1:3, b = 1:3))), "character vector of gene ids"),
  list("one study", quote(korvelan(x[1])), "at least 2 studies"),
  list("99 studies", quote(korvelan(many)), "at most 98 studies; `x` has 99"),
  list("character matrix", quote(korvelan(matrix("a", 3, 3))), "character matrix"),
  list("character column", quote(korvelan(df_chr)), "must be numeric ranks; not numeric: study2"),
  list("matrix without row names", quote(korvelan(unname(m))), "row names"),
  list("weights too short", quote(korvelan(x, weights = 1:2)), "one value per study \\(3\\), not 2"),
  list("NA weight", quote(korvelan(x, weights = c(1, NA, 1))), "finite"),
  list("runs 0", quote(korvelan(x, runs = 0L)), "`runs` must be a whole number from 1"),
  list("runs not whole", quote(korvelan(x, runs = 2.5)), "`runs` must be a whole number"),
  list("runs as text", quote(korvelan(x, runs = "10")), "`runs` must be a whole number"),
  list("seed 0", quote(korvelan(x, seed = 0)), "`seed` must be a whole number from 1 to 2147483646"),
  list("seed too large", quote(korvelan(x, seed = 2147483647)), "`seed` must be a whole number"),
  list("seed NA", quote(korvelan(x, seed = NA_integer_)), "`seed` must be a whole number"),
  list("two seeds", quote(korvelan(x, seed = 1:2)), "`seed` must be a whole number"),
  list("seed as text", quote(korvelan(x, seed = "7")), "`seed` must be a whole number"),
  list("threads 0", quote(korvelan(x, threads = 0L)), "`threads` must be a whole number from 1"),
  list("min_studies above studies", quote(korvelan(x, min_studies = 4L)),
       "min_studies must be from 1 to the number of studies \\(3\\), not 4"),
  list("classes", quote(korvelan(x, classes = 1:30)), "`classes` cannot be given"),
  list("bad absent", quote(korvelan(x, absent = "above")), "`absent` must be"),
  list("bad pvalues", quote(korvelan(x, pvalues = "two")), "`pvalues` must be \"plus-one\" or \"exact\", not \"two\""),
  list("universe too small", quote(korvelan(x, universe = 5)), "universe"),
  list("universe with absent missing", quote(korvelan(m, universe = 100)), "absent = \"below\" only"),
  list("universe above 2^23 genes", quote(korvelan(x, universe = 1e7)), "universe"),
  list("gene outside the universe", quote(korvelan(x, universe = c("g0001", "g0002"))), "not in the universe"),
  list("weight 0 in single precision", quote(korvelan(x, weights = c(1, 1e-300, 1))),
       "must be a positive number \\(single precision\\)"),
  list("weights overflow their single-precision sum", quote(korvelan(x, weights = c(3e38, 3e38, 3e38))),
       "add up to more than single precision")
)

test_that("every bad input is an R error with a message naming the fault", {
  for (case in bad) {
    expect_error(eval(case[[2]]), case[[3]], info = case[[1]])
  }
})

test_that("after an error the next call works", {
  expect_error(korvelan(x, runs = 0L))
  expect_s3_class(korvelan(x, runs = 1L, seed = 1L, verbose = FALSE), "korvelan_result")
})

test_that("a column subset of a result prints what it holds", {
  r <- korvelan(x, runs = 5L, seed = 1L, verbose = FALSE)
  shown <- capture.output(print(r[, c("gene", "R_mean", "p_Rmean_left")]))
  expect_false(any(grepl("0 studies", shown)))
  expect_true(any(grepl(paste0("^", nrow(r), " genes$"), shown)))
  expect_true(any(grepl("3 studies: study1, study2, study3", capture.output(print(r)))))
})

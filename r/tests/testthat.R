library(testthat)
library(korvelan)

test_check("korvelan")

# The R package: korvelan-meta and r_meta_oracle (the library's results.tsv
# for a matrix korvelan-meta has no format for) write the results the R
# tests compare with; the test r_package builds the package's tarball,
# installs it into a temporary library and runs its testthat tests (label
# r). Needs R with Rcpp and testthat (r-base-dev r-cran-rcpp
# r-cran-testthat, and r-cran-knitr for the vignette, which the test knits
# last); without Rscript the test is not registered.
korvelan_executable(r_meta_oracle SOURCES r/meta_oracle.cc DEPS korvelan::korvelan)

find_program(KORVELAN_RSCRIPT Rscript)
if(KORVELAN_RSCRIPT)
  add_test(NAME r_package
           COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/r/run_r_tests.sh ${PROJECT_SOURCE_DIR}
                   ${PROJECT_BINARY_DIR}/r $<TARGET_FILE:r_meta_oracle>
                   $<TARGET_FILE:korvelan-meta>)
  # Installing compiles the whole library again: minutes on a busy machine.
  set_tests_properties(r_package PROPERTIES LABELS r TIMEOUT 1800)
else()
  message(STATUS "Rscript not found: the R package's tests are not registered")
endif()

# Tests of korvelan-prepare and korvelan-report. The five-study tables and
# the reference input files made from them live in tools/data (GPL-3, see
# the README there).
find_package(EXPAT REQUIRED)

korvelan_test(korvelan_tools_test
  SOURCES
    tools/prepare/gene_union_test.cc
    tools/prepare/input_files_test.cc
    tools/prepare/prepare_test.cc
    tools/report/results_file_test.cc
    tools/report/report_test.cc
    tools/report/report_page_test.cc
    tools/report/svg_figure_test.cc
  DEPS korvelan_tools_prepare korvelan_tools_report korvelan_textio EXPAT::EXPAT GTest::gmock)
target_compile_definitions(korvelan_tools_test PRIVATE
  KORVELAN_TOOLS_TEST_DATA="${CMAKE_CURRENT_SOURCE_DIR}/tools/data")

korvelan_test(korvelan_tools_chain_test
  SOURCES tools/chain_test.cc
  LABELS e2e)
target_compile_definitions(korvelan_tools_chain_test PRIVATE
  KORVELAN_TOOLS_TEST_DATA="${CMAKE_CURRENT_SOURCE_DIR}/tools/data"
  KORVELAN_PREPARE="$<TARGET_FILE:korvelan-prepare>"
  KORVELAN_REPORT="$<TARGET_FILE:korvelan-report>"
  KORVELAN_PROGRAM="$<TARGET_FILE:korvelan>")
add_dependencies(korvelan_tools_chain_test korvelan-prepare korvelan-report korvelan)

# The HTML report in a real browser: Debian's headless Chromium driven by
# chromedriver through python3-selenium (all installed by .ci/run and the
# README's test command; a missing one fails the test, it never skips).
add_test(NAME korvelan_report_page_browser
  COMMAND ${CMAKE_COMMAND} -E env PYTHONDONTWRITEBYTECODE=1
          KORVELAN_PREPARE=$<TARGET_FILE:korvelan-prepare>
          KORVELAN_PROGRAM=$<TARGET_FILE:korvelan>
          KORVELAN_REPORT=$<TARGET_FILE:korvelan-report>
          KORVELAN_META=$<TARGET_FILE:korvelan-meta>
          KORVELAN_TOOLS_TEST_DATA=${CMAKE_CURRENT_SOURCE_DIR}/tools/data
          /usr/bin/python3 -m pytest -q -p no:cacheprovider
          ${CMAKE_CURRENT_SOURCE_DIR}/tools/browser)
set_tests_properties(korvelan_report_page_browser PROPERTIES LABELS "e2e;browser" TIMEOUT 600)

# The same page at 499999 genes (label big: left out of the default run).
add_test(NAME korvelan_report_page_browser_largest
  COMMAND ${CMAKE_COMMAND} -E env PYTHONDONTWRITEBYTECODE=1 KORVELAN_REPORT=$<TARGET_FILE:korvelan-report>
          /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/tools/browser/big_report_page.py)
set_tests_properties(korvelan_report_page_browser_largest PROPERTIES
  LABELS "big;browser" TIMEOUT 900)

# Tests of korvelan-prepare and korvelan-report. The five-study tables and
# the reference input files made from them live in tools/data (GPL-3, see
# the README there).
find_package(EXPAT REQUIRED)

korvelan_test(korvelan_tools_test
  SOURCES
    tools/file_io_test.cc
    tools/number_text_test.cc
    tools/table_test.cc
    tools/ranking_test.cc
    tools/study_test.cc
    tools/gene_union_test.cc
    tools/input_files_test.cc
    tools/prepare_test.cc
    tools/results_file_test.cc
    tools/bh_test.cc
    tools/report_test.cc
    tools/svg_figure_test.cc
  DEPS korvelan_tools korvelan_textio EXPAT::EXPAT GTest::gmock)
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

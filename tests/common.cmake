# The shared readers and writers (common/): tables, rankings, the study
# sheet, korvelan-meta's input shapes, the page, and the public entry
# points of korvelan/inputs.h. The five-study tables are tools/data's.
korvelan_test(korvelan_common_test
  SOURCES
    common/file_io_test.cc
    common/number_text_test.cc
    common/table_test.cc
    common/table_oracle.cc
    common/ranking_test.cc
    common/study_test.cc
    common/html_report_test.cc
    common/report_notes_test.cc
    common/page_columns_test.cc
    common/meta_input_test.cc
    common/meta_tables_test.cc
    common/meta_sheet_test.cc
    common/inputs_test.cc
  DEPS korvelan_common korvelan_textio korvelan_libcsv GTest::gmock)
target_compile_definitions(korvelan_common_test PRIVATE
  KORVELAN_TOOLS_TEST_DATA="${CMAKE_CURRENT_SOURCE_DIR}/tools/data"
  KORVELAN_REPORT_PAGE_DIR="${PROJECT_SOURCE_DIR}/common/report_page")

# The studies' files unpacked and parsed on several threads.
korvelan_test(korvelan_common_threads_test
  SOURCES
    common/read_threads_test.cc
  DEPS korvelan_common korvelan_textio
  LABELS threads)
target_compile_definitions(korvelan_common_threads_test PRIVATE
  KORVELAN_TOOLS_TEST_DATA="${CMAKE_CURRENT_SOURCE_DIR}/tools/data")

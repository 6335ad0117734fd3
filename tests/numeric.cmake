korvelan_test(numeric_test
  SOURCES
    ${PROJECT_SOURCE_DIR}/tests/numeric/report_layout_test.cc
    ${PROJECT_SOURCE_DIR}/tests/numeric/error_services_test.cc
    ${PROJECT_SOURCE_DIR}/tests/numeric/random_test.cc
    ${PROJECT_SOURCE_DIR}/tests/numeric/row_sort_test.cc
    ${PROJECT_SOURCE_DIR}/tests/numeric/row_sort_property_test.cc
    ${PROJECT_SOURCE_DIR}/tests/numeric/row_sort_oracle.cc
  DEPS korvelan_numeric)

# Run under a fake clock by random_test.cc.
korvelan_executable(numeric_clock_probe
  SOURCES ${PROJECT_SOURCE_DIR}/tests/numeric/random_clock_probe.cc
  DEPS korvelan_numeric)
add_dependencies(numeric_test numeric_clock_probe)
target_compile_definitions(numeric_test PRIVATE
  KORVELAN_CLOCK_PROBE="$<TARGET_FILE:numeric_clock_probe>")

korvelan_test(numeric_big_test
  SOURCES
    ${PROJECT_SOURCE_DIR}/tests/numeric/row_sort_big_test.cc
    ${PROJECT_SOURCE_DIR}/tests/numeric/row_sort_oracle.cc
  DEPS korvelan_numeric
  LABELS big)

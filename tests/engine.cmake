korvelan_test(engine_test
  SOURCES
    engine/stats_test.cc
    engine/class_sort_test.cc
    engine/runs_test.cc
    engine/counting_test.cc
    engine/restricted_test.cc
    engine/analysis_test.cc
    engine/zero_floats_test.cc
  DEPS korvelan_driver korvelan_engine korvelan_numeric korvelan_textio)

# The analysis on several threads against the straightforward oracles.
korvelan_test(engine_parallel_test
  SOURCES
    engine/parallel_test.cc
    engine/in_order_test.cc
  DEPS korvelan_driver korvelan_engine korvelan_numeric korvelan_textio
  LABELS threads)

# The console program on the example data, on several thread counts.
korvelan_test(engine_example_threads_test
  SOURCES engine/example_threads_test.cc
  LABELS threads)
target_compile_definitions(engine_example_threads_test PRIVATE
  KORVELAN_BINARY="$<TARGET_FILE:korvelan>"
  KORVELAN_EXAMPLES="${PROJECT_SOURCE_DIR}/examples")
add_dependencies(engine_example_threads_test korvelan)

korvelan_test(engine_test
  SOURCES
    engine/stats_test.cc
    engine/class_sort_test.cc
    engine/runs_test.cc
    engine/counting_test.cc
    engine/results_test.cc
    engine/restricted_test.cc
    engine/analysis_test.cc
  DEPS korvelan_driver korvelan_engine korvelan_numeric korvelan_textio)

# The analysis on several threads against the straightforward oracles.
korvelan_test(engine_parallel_test
  SOURCES engine/parallel_test.cc
  DEPS korvelan_driver korvelan_engine korvelan_numeric korvelan_textio
  LABELS threads)

# korvelan-meta: its readers and helpers in-process, and the built program
# end to end on the shipped data sets (meta/data: see the README of each,
# LGPL; the five-study tables are tools/data's, GPL-3).
korvelan_test(korvelan_meta_tools_test
  SOURCES
    tools/cli/message_text_test.cc
    tools/cli/output_dir_test.cc
    tools/cli/signal_thread_test.cc
    tools/meta/meta_command_test.cc
    tools/meta/meta_progress_test.cc
  DEPS korvelan_tools_meta)

korvelan_test(korvelan_meta_e2e_test
  SOURCES meta/meta_e2e_test.cc
  DEPS korvelan_tools_meta
  LABELS e2e)
target_compile_definitions(korvelan_meta_e2e_test PRIVATE
  KORVELAN_META_TEST_DATA="${CMAKE_CURRENT_SOURCE_DIR}/meta/data"
  KORVELAN_TOOLS_TEST_DATA="${CMAKE_CURRENT_SOURCE_DIR}/tools/data"
  KORVELAN_BINARY="$<TARGET_FILE:korvelan-meta>"
  KORVELAN_PREPARE="$<TARGET_FILE:korvelan-prepare>"
  KORVELAN_REPORT="$<TARGET_FILE:korvelan-report>"
  KORVELAN_PROGRAM="$<TARGET_FILE:korvelan>")
add_dependencies(korvelan_meta_e2e_test korvelan-meta korvelan-prepare korvelan-report korvelan)

korvelan_test(korvelan_meta_hostile_test
  SOURCES meta/meta_hostile_test.cc
  LABELS e2e)
target_compile_definitions(korvelan_meta_hostile_test PRIVATE
  KORVELAN_META_TEST_DATA="${CMAKE_CURRENT_SOURCE_DIR}/meta/data"
  KORVELAN_BINARY="$<TARGET_FILE:korvelan-meta>"
  KORVELAN_PREPARE="$<TARGET_FILE:korvelan-prepare>"
  KORVELAN_REPORT="$<TARGET_FILE:korvelan-report>")
add_dependencies(korvelan_meta_hostile_test korvelan-meta korvelan-prepare korvelan-report)

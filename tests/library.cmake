# The library's API against the console program (which it must equal byte
# for byte), on several threads at once, cancelled, and refusing bad input.
korvelan_test(library_test
  SOURCES library/analysis_test.cc
  DEPS korvelan::korvelan korvelan_engine
  LABELS threads)
target_compile_definitions(library_test PRIVATE KORVELAN_BINARY="$<TARGET_FILE:korvelan>")
add_dependencies(library_test korvelan)

# The meta-analysis layer (korvelan/meta.h), table-driven. It ranks the
# studies and works out the q-values on several threads, so ThreadSanitizer
# runs it too.
korvelan_test(library_meta_test
  SOURCES library/meta_test.cc library/bh_test.cc
  DEPS korvelan::korvelan
  LABELS threads)

# Top-k lists over their universes, mixed with full tables.
korvelan_test(library_meta_universe_test
  SOURCES library/meta_universe_test.cc
  DEPS korvelan::korvelan)

# The options the front ends share (korvelan/options.h), table-driven.
korvelan_test(library_options_test
  SOURCES library/options_test.cc
  DEPS korvelan::korvelan)

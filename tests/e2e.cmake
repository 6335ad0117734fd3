# End-to-end golden cases. The runner finds the cases when it starts; a new,
# changed or removed case file relinks it (LINK_DEPENDS on the files and on
# a list of them), which re-runs the test discovery. Cases with a `big` file
# go to the second binary, outside the default run.
file(GLOB_RECURSE KORVELAN_E2E_CASE_FILES CONFIGURE_DEPENDS
     ${CMAKE_CURRENT_SOURCE_DIR}/e2e/cases/*)
string(REPLACE ";" "\n" KORVELAN_E2E_CASE_LIST "${KORVELAN_E2E_CASE_FILES}")
file(CONFIGURE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/e2e_case_files.txt
     CONTENT "${KORVELAN_E2E_CASE_LIST}\n")

foreach(variant IN ITEMS e2e_test e2e_big_test)
  if(variant STREQUAL "e2e_big_test")
    korvelan_test(${variant} SOURCES e2e/e2e_test.cc LABELS big)
    set(big 1)
  else()
    korvelan_test(${variant} SOURCES e2e/e2e_test.cc)
    set(big 0)
  endif()
  target_compile_definitions(${variant} PRIVATE
    KORVELAN_BINARY="$<TARGET_FILE:korvelan>"
    KORVELAN_E2E_CASES="${CMAKE_CURRENT_SOURCE_DIR}/e2e/cases"
    KORVELAN_E2E_BIG=${big})
  add_dependencies(${variant} korvelan)
  set_property(TARGET ${variant} APPEND PROPERTY LINK_DEPENDS
               ${KORVELAN_E2E_CASE_FILES} ${CMAKE_CURRENT_BINARY_DIR}/e2e_case_files.txt)
endforeach()

# Faults from outside, run against the built program: closed and failing
# standard streams, refused and full file systems, thread limits, long lines,
# interrupts (fault_test); the largest accepted input (fault_big_test, big).
korvelan_test(fault_test SOURCES e2e/fault_test.cc)
korvelan_test(fault_big_test SOURCES e2e/fault_big_test.cc LABELS big)
foreach(t IN ITEMS fault_test fault_big_test)
  target_compile_definitions(${t} PRIVATE KORVELAN_BINARY="$<TARGET_FILE:korvelan>")
  add_dependencies(${t} korvelan)
endforeach()

# The manual pages against the programs (label docs): every long option a
# program's --help shows must be named in its page's source, so a new option
# cannot go out undocumented. Needs python3-pytest, as the browser tests do.
add_test(NAME docs_man_pages
  COMMAND ${CMAKE_COMMAND} -E env PYTHONDONTWRITEBYTECODE=1
          KORVELAN_MAN_DIR=${PROJECT_SOURCE_DIR}/man
          KORVELAN_PROGRAM=$<TARGET_FILE:korvelan>
          KORVELAN_PREPARE=$<TARGET_FILE:korvelan-prepare>
          KORVELAN_REPORT=$<TARGET_FILE:korvelan-report>
          KORVELAN_META=$<TARGET_FILE:korvelan-meta>
          /usr/bin/python3 -m pytest -q -p no:cacheprovider
          ${CMAKE_CURRENT_SOURCE_DIR}/docs)
set_tests_properties(docs_man_pages PROPERTIES LABELS docs TIMEOUT 120)

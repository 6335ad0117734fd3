korvelan_test(textio_test
  SOURCES
    ${PROJECT_SOURCE_DIR}/tests/textio/list_output_test.cc
    ${PROJECT_SOURCE_DIR}/tests/textio/fixed_output_test.cc
    ${PROJECT_SOURCE_DIR}/tests/textio/list_input_test.cc
    ${PROJECT_SOURCE_DIR}/tests/textio/plain_reals_test.cc
    ${PROJECT_SOURCE_DIR}/tests/textio/termination_test.cc
    ${PROJECT_SOURCE_DIR}/tests/textio/channels_test.cc
    ${PROJECT_SOURCE_DIR}/tests/textio/id_map_test.cc
  DEPS korvelan_textio)

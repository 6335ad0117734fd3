korvelan_test(driver_test
  SOURCES
    driver/options_test.cc
    driver/dialogue_test.cc
    driver/loading_test.cc
    driver/results_file_test.cc
  DEPS korvelan_driver korvelan_engine korvelan_textio)

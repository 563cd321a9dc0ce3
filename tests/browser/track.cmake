# Track of single animals: the computation, its files and drawing, on crafted acquisitions.
kestrova_test(kestrova_browser_track_tests
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/track_model_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/track_run_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/track_fixture.cpp
  DEPS kestrova_browser_track kestrova_test_support
  LABEL unit)

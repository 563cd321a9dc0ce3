# The joint report, the exports and the group re-assignment editor.
kestrova_test(kestrova_browser_joint_tests
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/joint_report_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/export_files_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/export_report_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/regroup_editor_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/regroup_save_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/joint_fixture.cpp
    ${CMAKE_CURRENT_LIST_DIR}/plot_fixture.cpp
    ${PROJECT_SOURCE_DIR}/tests/reports/reanalysis_fixture.cpp
  DEPS kestrova_browser_joint kestrova_reports kestrova_test_support
  LABEL unit)

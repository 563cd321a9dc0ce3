# The offline plots: group tables, bin steps, the real-time page and the drawings on a recording
# canvas; the same drawings on real pictures when windows are built.
kestrova_test(kestrova_browser_plots_tests
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/group_table_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/plot_axis_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/plot_draw_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/realtime_page_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/plot_view_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/plot_recording_test.cpp
    ${PROJECT_SOURCE_DIR}/tests/reports/reanalysis_fixture.cpp
    ${CMAKE_CURRENT_LIST_DIR}/plot_fixture.cpp
  DEPS kestrova_browser_plots kestrova_test_support
  LABEL unit)
if(KESTROVA_WINDOWS)
  kestrova_test(kestrova_browser_plots_picture_tests
    SOURCES
      ${CMAKE_CURRENT_LIST_DIR}/plot_picture_test.cpp
      ${CMAKE_CURRENT_LIST_DIR}/plot_fixture.cpp
      ${PROJECT_SOURCE_DIR}/tests/windows/qt_test_app.cpp
    DEPS kestrova_browser_plots kestrova_ui kestrova_test_support
    QT LABEL gui)
  target_include_directories(kestrova_browser_plots_picture_tests PRIVATE
    ${PROJECT_SOURCE_DIR}/tests/windows)
endif()

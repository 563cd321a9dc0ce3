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
if(KESTROVA_WINDOWS)
  # A visual check of the plots: renders every view to PNG files. Built with the tests (so it
  # cannot rot), run by hand.
  add_executable(kestrova_plot_shots
    ${CMAKE_CURRENT_LIST_DIR}/plot_shots.cpp ${CMAKE_CURRENT_LIST_DIR}/plot_fixture.cpp)
  target_compile_options(kestrova_plot_shots PRIVATE ${KESTROVA_WARNINGS})
  target_include_directories(kestrova_plot_shots PRIVATE ${PROJECT_SOURCE_DIR}/src
    ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(kestrova_plot_shots PRIVATE kestrova_browser_plots kestrova_ui
    kestrova_test_support)
endif()

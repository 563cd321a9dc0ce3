# The browser's joint report and exports, and the group re-assignment editor of an acquisition.
# Qt-free.
kestrova_library(kestrova_browser_joint
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/joint_report.cpp
    ${CMAKE_CURRENT_LIST_DIR}/export_files.cpp
    ${CMAKE_CURRENT_LIST_DIR}/export_report.cpp
    ${CMAKE_CURRENT_LIST_DIR}/regroup_editor.cpp
  DEPS kestrova_browser_plots kestrova_setup_editor kestrova_store kestrova_common)

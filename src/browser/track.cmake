# Track of single animals on 6-well plates: the Qt-free computation, its files and its drawing.
kestrova_library(kestrova_browser_track
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/track_model.cpp
    ${CMAKE_CURRENT_LIST_DIR}/track_files.cpp
    ${CMAKE_CURRENT_LIST_DIR}/track_drawing.cpp
    ${CMAKE_CURRENT_LIST_DIR}/track_run.cpp
  DEPS kestrova_reports kestrova_acquisition kestrova_store kestrova_common)

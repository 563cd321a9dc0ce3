# Sources that a unity build (KESTROVA_UNITY) compiles on their own, relative to the project
# folder. A source belongs here when it defines a file-local name (in an anonymous namespace or
# static) that another source of the same target and namespace also defines. Renaming the
# clash lets the source join its target's combined file again.
set(KESTROVA_UNITY_SEPARATE
  # kChannels, kCommError, kCell, kLabelPt and the colours of the drawing views.
  src/acquisition/channel_console.cpp
  src/acquisition/self_test.cpp
  src/acquisition/live_display_summary.cpp
  src/acquisition/live_display_trace.cpp
  # named, button, lamp (as in main_window_build.cpp).
  src/app/console_window.cpp
  # File (as in group_table.cpp), kWhite and kBlack (as in plot_draw.cpp).
  src/browser/realtime_page.cpp
  src/browser/regroup_editor.cpp
  src/browser/track_drawing.cpp
  # kBinEntries (as in report_window.cpp).
  src/reports/report_settings_window.cpp
  # lower (as in plate_format.cpp).
  src/store/plate_layout.cpp
  # to_qstring (as in qt_dialogs.cpp).
  src/ui/qt_shell.cpp
  # RecordingView (as in acquisition_cycle_test.cpp), kB.
  tests/acquisition/channel_console_test.cpp
  tests/acquisition/self_test_test.cpp
  tests/acquisition/live_display_test.cpp
  # centre (as in regroup_editor_test.cpp).
  tests/browser/regroup_save_test.cpp
  # minutes (as in generate_report_test.cpp).
  tests/reports/reanalysis_test.cpp
  tests/reports/rebin_test.cpp
  # Fixture, minutes and run_report (as in kestrova_report_test.cpp).
  tests/tools/generate_command_test.cpp
  tests/tools/list_command_test.cpp
  tests/tools/reanalyze_command_test.cpp)

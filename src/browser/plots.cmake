#The offline plots of the experiment browser : group tables, the real - time page, the views drawn
#on a Canvas.Qt - free.
kestrova_library(
    kestrova_browser_plots SOURCES ${CMAKE_CURRENT_LIST_DIR} /
    group_table.cpp ${CMAKE_CURRENT_LIST_DIR} / plot_axis.cpp ${CMAKE_CURRENT_LIST_DIR} /
    plot_draw.cpp ${CMAKE_CURRENT_LIST_DIR} / realtime_page.cpp ${CMAKE_CURRENT_LIST_DIR} /
    plot_view.cpp DEPS kestrova_reports kestrova_acquisition kestrova_store kestrova_common)

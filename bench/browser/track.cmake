# A plain timing program: the track of a one-hour w6 recording by kestrova-report against reading
# its real-time files once.
add_executable(track_bench ${CMAKE_CURRENT_LIST_DIR}/track_bench.cpp)
target_compile_options(track_bench PRIVATE ${KESTROVA_WARNINGS})
target_include_directories(track_bench PRIVATE ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(track_bench PRIVATE kestrova_browser_track kestrova_store kestrova_common)
target_compile_definitions(track_bench PRIVATE KESTROVA_REPORT_EXE="$<TARGET_FILE:kestrova-report>")
add_dependencies(track_bench kestrova-report)

# Receive-path throughput and start-up cost: run by hand, figures go to
# docs/performance.md.
add_executable(bench_receive ${CMAKE_CURRENT_LIST_DIR}/bench_receive.cpp)
target_link_libraries(bench_receive PRIVATE movexa_core)

add_executable(bench_start_panel ${CMAKE_CURRENT_LIST_DIR}/bench_start.cpp)
target_link_libraries(bench_start_panel PRIVATE movexa_core)
target_compile_definitions(bench_start_panel PRIVATE START_PANEL=1)

# The reference: a minimal Qt Widgets program showing one empty window.
add_executable(bench_start_minimal ${CMAKE_CURRENT_LIST_DIR}/bench_start.cpp)
target_link_libraries(bench_start_minimal PRIVATE Qt5::Widgets)

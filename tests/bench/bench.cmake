# Timing benchmarks: built with the suites, run by hand (not registered with
# CTest, since their figures depend on the machine's load).
add_executable(loop_timing ${CMAKE_CURRENT_LIST_DIR}/loop_timing.cpp)
target_link_libraries(loop_timing PRIVATE movexa_testsupport)

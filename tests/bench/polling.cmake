# CPU used by the panel while it polls the virtual stage: run by hand.
add_executable(bench_polling ${CMAKE_CURRENT_LIST_DIR}/bench_polling.cpp)
target_link_libraries(bench_polling PRIVATE movexa_testsupport)
target_compile_definitions(bench_polling PRIVATE
    STAGE_SIM_PATH="$<TARGET_FILE:movexa-stage-sim>")
add_dependencies(bench_polling movexa-stage-sim)

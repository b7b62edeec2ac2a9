# The virtual stage controller: its model on a driven clock, its program on a
# real pseudo-terminal, and the panel's window end to end against it.
movexa_add_test(NAME test_stagesim
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_stagesim.cpp
    LIBS movexa_core movexa_sim
    LABELS unit gui pty sim)
target_compile_definitions(test_stagesim PRIVATE
    STAGE_SIM_PROGRAM="$<TARGET_FILE:movexa-stage-sim>")
add_dependencies(test_stagesim movexa-stage-sim)

# The programs as a user meets them: started without a display or with a
# mistake, ended by a signal, on a machine with stale port locks; the window
# icon; the virtual stage's run direction.
movexa_add_test(NAME test_program
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_program.cpp
    LABELS gui pty sim)
target_compile_definitions(test_program PRIVATE MOVEXA_PROGRAM="$<TARGET_FILE:movexa>"
    STAGE_SIM_PROGRAM="$<TARGET_FILE:movexa-stage-sim>")
add_dependencies(test_program movexa movexa-stage-sim)

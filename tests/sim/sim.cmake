# The virtual stage controller: its model on a driven clock, the adaptor and
# the command-line program over real pseudo-terminals, and the panel's window
# end to end against it.
movexa_add_test(NAME test_stagemodel
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_stagemodel.cpp
    LIBS movexa_core movexa_sim
    LABELS unit sim)

movexa_add_test(NAME test_stagesim_pty
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_stagesim_pty.cpp
    LIBS movexa_sim Qt5::SerialPort
    LABELS pty sim)
target_compile_definitions(test_stagesim_pty PRIVATE
    STAGE_SIM_PROGRAM="$<TARGET_FILE:movexa-stage-sim>")
add_dependencies(test_stagesim_pty movexa-stage-sim)

movexa_add_test(NAME test_session
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_session.cpp
    LIBS movexa_core movexa_sim
    LABELS gui pty sim)

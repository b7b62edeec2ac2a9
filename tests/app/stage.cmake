movexa_add_test(NAME test_stage
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_stage.cpp
    LABELS gui pty)
movexa_add_test(NAME test_stagestatus
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_stagestatus.cpp
    LABELS unit)

movexa_add_test(NAME test_stage
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_stage.cpp
    LABELS gui pty)

movexa_add_test(NAME test_loopsequencer
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_loopsequencer.cpp
    LABELS gui pty)

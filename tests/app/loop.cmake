movexa_add_test(NAME test_loopmath
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_loopmath.cpp
    LABELS unit)
movexa_add_test(NAME test_loopsequencer
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_loopsequencer.cpp
    LABELS gui pty)

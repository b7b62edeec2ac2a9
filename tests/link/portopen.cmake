# Opening the controller's port when the device goes away during its set-up.
movexa_add_test(NAME test_portopen
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_portopen.cpp
    LABELS unit pty)

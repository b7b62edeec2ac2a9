# Controller link: pty round trips, receive ring, reply parser, port discovery
# and the window's connection control.
movexa_add_test(NAME test_link
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_link.cpp
    LABELS unit pty)

# Controller link: receive ring and pty round trips, reply parser and
# parameter table, port discovery, and the window's connection control.
movexa_add_test(NAME test_link_serial
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_serial.cpp
    LABELS unit pty)
movexa_add_test(NAME test_link_protocol
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_protocol.cpp
    LABELS unit pty)
movexa_add_test(NAME test_link_connection
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_connection.cpp
    LABELS unit pty)

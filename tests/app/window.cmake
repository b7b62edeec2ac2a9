# The window on a pseudo-terminal peer: form, stage operation, menus.
movexa_add_test(NAME test_window
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_window.cpp
    LABELS gui pty)

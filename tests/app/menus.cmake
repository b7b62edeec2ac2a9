movexa_add_test(NAME test_menus
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_menus.cpp
    LABELS gui pty)

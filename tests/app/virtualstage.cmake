# The panel on its built-in virtual stage, end to end, and its command line,
# also as a program started without a display.
movexa_add_test(NAME test_virtualstage
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_virtualstage.cpp
    LABELS gui pty sim)
target_compile_definitions(test_virtualstage PRIVATE MOVEXA_PROGRAM="$<TARGET_FILE:movexa>")
add_dependencies(test_virtualstage movexa)

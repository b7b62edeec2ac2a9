movexa_add_test(NAME test_form
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_form.cpp
    LABELS gui)

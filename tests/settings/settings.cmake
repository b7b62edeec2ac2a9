movexa_add_test(NAME test_appsettings
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_appsettings.cpp
    LABELS unit)

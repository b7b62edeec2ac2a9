# Port enumeration from sysfs: against Qt's list on this machine, and over a
# fake sysfs tree.
movexa_add_test(NAME test_link_ports
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_ports.cpp
    LABELS unit)

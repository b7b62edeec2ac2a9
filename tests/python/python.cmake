# End to end: the Python client and movexa-ctl against the real panel and the real
# simulator, with Debian's python3 and nothing from pip. One CTest entry per test class,
# each with its own panel, so that they run in parallel.
if(NOT TARGET movexa-stage-sim)
    return()
endif()
set(_env
    "MOVEXA_PANEL=$<TARGET_FILE:movexa>"
    "MOVEXA_STAGE_SIM=$<TARGET_FILE:movexa-stage-sim>"
    "MOVEXA_CTL=$<TARGET_FILE:movexa-ctl>"
    "MOVEXA_CLIENT_DIR=${PROJECT_SOURCE_DIR}/clients/python"
    "PYTHONDONTWRITEBYTECODE=1"
    "ASAN_OPTIONS=detect_leaks=0")
foreach(_case test_client.HelloTest test_client.MotionTest test_client.RotationTest
              test_client.DefaultPathTest
              test_client.CableTest test_ctl.CtlTest test_ctl.ClosingTest)
    add_test(NAME py_${_case} COMMAND /usr/bin/python3 -m unittest ${_case}
             WORKING_DIRECTORY ${CMAKE_CURRENT_LIST_DIR})
    set_tests_properties(py_${_case} PROPERTIES
        LABELS "e2e;pty;sim" TIMEOUT 120 ENVIRONMENT "${_env}")
endforeach()

# The control socket: the request handling and its arithmetic without a
# socket, then the socket itself against the panel on its virtual stage.
movexa_add_test(NAME test_requests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_requests.cpp
    LABELS unit gui pty)
movexa_add_test(NAME test_controlsocket
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_controlsocket.cpp
    LABELS gui pty sim)

# bench_protocols: 4 MB by YMODEM through a pty, Kalvosan against lrzsz's own sb and rb on the
# same slave; the test's pty and lrzsz peer helpers play the device.
add_executable(bench_protocols bench_protocols.cpp ${CMAKE_SOURCE_DIR}/tests/test_lrzsz_peer.cpp
               ${CMAKE_SOURCE_DIR}/tests/test_pty.cpp)
target_link_libraries(bench_protocols PRIVATE kalvosan_core)
add_dependencies(bench_protocols kalvosan_cli)

# bench_network: capture throughput through ser2net against socat, and 1 ms per byte through
# RFC 2217 against python3-serial, gaps measured at the device. The test's ser2net and pty
# helpers play the server and the device.
add_executable(bench_network bench_network.cpp ${CMAKE_SOURCE_DIR}/tests/test_network_support.cpp
               ${CMAKE_SOURCE_DIR}/tests/test_pty.cpp)
target_link_libraries(bench_network PRIVATE kalvosan_core)
add_dependencies(bench_network kalvosan_cli)

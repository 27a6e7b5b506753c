# bench_capture: 100 MB through a pty into a capture, against cat; the CPU of an idle capture.
# The pty helper of the tests plays the device.
add_executable(bench_capture bench_capture.cpp ${CMAKE_SOURCE_DIR}/tests/test_support.cpp
               ${CMAKE_SOURCE_DIR}/tests/test_pty.cpp)
target_link_libraries(bench_capture PRIVATE kalvosan_widgets)
add_dependencies(bench_capture kalvosan kalvosan_cli)

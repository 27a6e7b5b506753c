# bench_hex: kalvosan-cli hex of 100 MB (a file, standard input, --follow) beside xxd and
# hexdump -C, CPU time with the output into a pipe.
add_executable(bench_hex bench_hex.cpp)
target_link_libraries(bench_hex PRIVATE Qt6::Core)
target_include_directories(bench_hex PRIVATE ${CMAKE_SOURCE_DIR})
add_dependencies(bench_hex kalvosan_cli)

# bench_ports: the device listing over 1,000 fake USB adapters, alone and through kalvosan-cli.
add_executable(bench_ports bench_ports.cpp)
target_link_libraries(bench_ports PRIVATE kalvosan_core)
add_dependencies(bench_ports kalvosan_cli)

# bench_transmit: per-byte delay gaps and whole-chunk throughput against cat, of the window and
# of kalvosan-cli, and the window's responsiveness while the reply monitor takes a flood.
add_executable(bench_transmit bench_transmit.cpp)
target_link_libraries(bench_transmit PRIVATE kalvosan_widgets)
add_dependencies(bench_transmit kalvosan kalvosan_cli)

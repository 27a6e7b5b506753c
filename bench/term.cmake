# bench_term: kalvosan-cli term against tio and picocom: key-to-device and device-to-screen
# latency, and a 20 MB flood to the screen with the log on.
add_executable(bench_term bench_term.cpp)
target_link_libraries(bench_term PRIVATE kalvosan_core)
add_dependencies(bench_term kalvosan_cli)

# Start-up of the window: process start to window shown, and resident memory after start.
find_package(Qt6 REQUIRED COMPONENTS Test)
add_executable(bench_app bench_app.cpp)
target_link_libraries(bench_app PRIVATE kalvosan_widgets Qt6::Test)
add_dependencies(bench_app kalvosan)

# bench_loader: the hex line formatter alone, and a whole load through libkalvosan.so.
add_executable(bench_loader bench_loader.cpp)
target_link_libraries(bench_loader PRIVATE kv_hexline Qt6::Widgets)
add_dependencies(bench_loader kalvosan)

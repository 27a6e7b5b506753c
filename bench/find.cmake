# bench_find: "&Find" over 32,736 lines through the window, and the search alone.
add_executable(bench_find bench_find.cpp)
target_link_libraries(bench_find PRIVATE kalvosan_widgets)
add_dependencies(bench_find kalvosan)

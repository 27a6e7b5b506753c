# bench_hexedit: the editor pane holding 32,736 lines loaded through libkalvosan.so: resident
# memory, scrolling to the end and opening the cell editor there, typing a byte.
add_executable(bench_hexedit bench_hexedit.cpp)
target_link_libraries(bench_hexedit PRIVATE kalvosan_widgets)
add_dependencies(bench_hexedit kalvosan)

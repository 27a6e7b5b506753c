# Ports across the network through a real ser2net (make deps installs it) and servers of the
# test's own: kalvosan-cli as a program, and the window through its widgets.
add_library(kv_test_network STATIC test_network_support.cpp)
target_link_libraries(kv_test_network PUBLIC kv_test_pty Qt6::Core)

add_executable(test_network_cli test_network_cli.cpp)
target_link_libraries(test_network_cli PRIVATE kv_test_core_main kv_test_network)
add_dependencies(test_network_cli kalvosan_cli)
add_test(NAME test_network_cli COMMAND test_network_cli)
set_tests_properties(test_network_cli PROPERTIES
  ENVIRONMENT "${kv_test_environment}"
  TIMEOUT 300)

kv_add_test(test_network_window test_network_window.cpp)
target_link_libraries(test_network_window PRIVATE kv_test_network)

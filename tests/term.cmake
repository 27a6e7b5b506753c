# The terminal: its pure parts called directly, and kalvosan-cli term run as a user runs it,
# with a pty as its own terminal and another as the device. Nothing here links a widget.
add_executable(test_term test_term_logic.cpp test_term_cli.cpp test_lrzsz_peer.cpp)
target_link_libraries(test_term PRIVATE kv_test_core_main kv_test_network)
add_dependencies(test_term kalvosan_cli)
add_test(NAME test_term COMMAND test_term)
set_tests_properties(test_term PROPERTIES
  ENVIRONMENT "${kv_test_environment}"
  TIMEOUT 300)

# The terminal window through its widgets, opened from the main window.
kv_add_test(test_term_window test_term_window.cpp)

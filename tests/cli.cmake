# The core without a window: the capture and send sessions against a pty, and kalvosan-cli,
# its option handling called directly and the real program run through ptys. Nothing here
# links a widget.
add_library(kv_test_core_main STATIC test_core_main.cpp)
target_link_libraries(kv_test_core_main PUBLIC kalvosan_core kv_test_pty GTest::gtest)

add_executable(test_cli test_cli_sessions.cpp test_cli_options.cpp test_cli_program.cpp
                        test_cli_timing.cpp test_cli_ports.cpp test_cli_pipes.cpp)
target_link_libraries(test_cli PRIVATE kv_test_core_main kalvosan_cli_lib)
# The bash completion is sourced from the source tree, as bash-completion would load it.
target_compile_definitions(test_cli PRIVATE
  KALVOSAN_COMPLETION="${CMAKE_SOURCE_DIR}/completion/kalvosan-cli")
# The program under test sits beside the test in bin/.
add_dependencies(test_cli kalvosan_cli)
add_test(NAME test_cli COMMAND test_cli)
set_tests_properties(test_cli PROPERTIES
  ENVIRONMENT "${kv_test_environment}"
  TIMEOUT 300)

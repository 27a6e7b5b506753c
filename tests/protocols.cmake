# The protocol machines on simulated lines, and transfers against lrzsz's programs through ptys.
add_executable(test_protocols test_protocol_machines.cpp)
target_link_libraries(test_protocols PRIVATE kv_test_core_main)
add_test(NAME test_protocols COMMAND test_protocols)
set_tests_properties(test_protocols PROPERTIES ENVIRONMENT "${kv_test_environment}" TIMEOUT 300)

# The protocol machines on simulated lines, and transfers against lrzsz's programs through ptys.
add_executable(test_protocols test_protocol_machines.cpp)
target_link_libraries(test_protocols PRIVATE kv_test_core_main)
add_test(NAME test_protocols COMMAND test_protocols)
set_tests_properties(test_protocols PROPERTIES ENVIRONMENT "${kv_test_environment}" TIMEOUT 300)

add_executable(test_protocol_peers test_protocol_peers.cpp test_lrzsz_peer.cpp)
target_link_libraries(test_protocol_peers PRIVATE kv_test_core_main kv_test_network)
add_dependencies(test_protocol_peers kalvosan_cli)
add_test(NAME test_protocol_peers COMMAND test_protocol_peers)
set_tests_properties(test_protocol_peers PROPERTIES ENVIRONMENT "${kv_test_environment}"
                     TIMEOUT 600)

# The window's protocol menu and transfers, through its widgets.
kv_add_test(test_app_protocols test_app_protocols.cpp test_lrzsz_peer.cpp)

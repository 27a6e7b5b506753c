# The fuzzers' corpus (tests/fuzz/corpus/<target>/), every input replayed once through each
# target under the sanitizers of this build: what a fuzzer found once stays found.
add_executable(test_fuzz_corpus fuzz/replay_main.cpp fuzz/fuzz_files.cpp fuzz/fuzz_telnet.cpp
               fuzz/fuzz_lock_file.cpp fuzz/fuzz_arrival_times.cpp fuzz/fuzz_hex_listing.cpp
               fuzz/fuzz_ymodem_header.cpp fuzz/fuzz_xmodem_receiver.cpp)
target_compile_definitions(test_fuzz_corpus PRIVATE KV_FUZZ_REPLAY)
target_link_libraries(test_fuzz_corpus PRIVATE kalvosan_core kalvosan_cli_lib)
add_test(NAME fuzz_corpus COMMAND test_fuzz_corpus ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/corpus)
set_tests_properties(fuzz_corpus PROPERTIES
  ENVIRONMENT "${kv_test_environment}"
  TIMEOUT 300)

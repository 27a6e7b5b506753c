kv_add_test(test_serial test_serial_line.cpp test_serial_lock.cpp test_serial_names.cpp
  test_serial_port.cpp)

# Every test program opens ports through the serial layer, which takes UUCP lock files: they go
# to a folder of the build, never into the system's /run/lock. Deferred to the end of this
# directory so that the programs added after this fragment get it too.
set(KV_TEST_LOCK_DIR ${CMAKE_CURRENT_BINARY_DIR}/locks)
file(MAKE_DIRECTORY ${KV_TEST_LOCK_DIR})
function(kv_point_tests_at_lock_dir)
  get_property(tests DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR} PROPERTY TESTS)
  set_property(TEST ${tests} APPEND PROPERTY ENVIRONMENT "KALVOSAN_LOCK_DIR=${KV_TEST_LOCK_DIR}")
endfunction()
cmake_language(DEFER CALL kv_point_tests_at_lock_dir)

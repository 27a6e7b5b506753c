# The pure logic of capture naming, the editor's byte and line handling, the reply display,
# the timing report of a send and the arrival times of a capture.
kv_add_test(test_logic
  ${CMAKE_CURRENT_SOURCE_DIR}/test_logic_naming.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/test_logic_bytes.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/test_logic_find.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/test_logic_range_print.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/test_logic_reply.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/test_logic_timing.cpp)

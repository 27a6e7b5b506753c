# File transmission, the editor send with its reply monitor and the drop directory chooser:
# the pure parts, then end to end through a pty with the real window.
kv_add_test(test_transmit
  ${CMAKE_CURRENT_SOURCE_DIR}/test_transmit_logic.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/test_transmit_send.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/test_transmit_editor.cpp)

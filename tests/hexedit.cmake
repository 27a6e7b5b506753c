# The hex editor pane and the cell editor: the pure cell rules, and the real TerminalDialog
# (with libkalvosan.so) driven by keys and clicks.
kv_add_test(test_hexedit
  ${CMAKE_CURRENT_SOURCE_DIR}/test_hexedit_cells.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/test_hexedit_fixture.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/test_hexedit_pane.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/test_hexedit_typing.cpp)

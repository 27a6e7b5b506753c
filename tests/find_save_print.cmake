# Find, the range dialog with Save, and Print, driven through the main window.
kv_add_test(test_find_save_print
  ${CMAKE_CURRENT_SOURCE_DIR}/test_fsp_find.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/test_fsp_save.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/test_fsp_print.cpp)

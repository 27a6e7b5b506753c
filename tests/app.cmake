# The main window, its settings store and the About box; start-up of the real program.
kv_add_test(test_app test_app_window.cpp test_app_settings.cpp test_app_startup.cpp)
add_dependencies(test_app kalvosan_app)
# The desktop entry whose name the window gives as its desktop file name.
target_compile_definitions(test_app PRIVATE
  KV_DESKTOP_ENTRY="${CMAKE_SOURCE_DIR}/res/example.brisgal.Kalvosan.desktop")

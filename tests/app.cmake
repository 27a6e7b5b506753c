# The main window, its settings store and the About box; start-up of the real program.
kv_add_test(test_app test_app_window.cpp test_app_settings.cpp test_app_startup.cpp)
add_dependencies(test_app kalvosan_app)

# Captures end to end through a pty, driven by the main window's buttons.
kv_add_test(test_capture test_capture_fixture.cpp test_capture_session.cpp test_capture_faults.cpp
            test_capture_unplug.cpp)

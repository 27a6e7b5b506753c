kv_add_test(test_serial test_serial_devices.cpp test_serial_line.cpp test_serial_lock.cpp
  test_serial_names.cpp test_serial_port.cpp)

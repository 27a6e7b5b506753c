# The loader library: the pure hex line, and the real libkalvosan.so loaded with QLibrary from
# the test's own directory, as the program loads it.
kv_add_test(test_loader test_loader_hexline.cpp test_loader_fixture.cpp test_loader_library.cpp
            test_loader_guarantees.cpp)

# The Debian packages and their metadata, checked with Debian's tools by
# tests/package_checks.sh. package_deb builds the packages from a Release tree of its own under
# this build directory (as `make package` does), so its first run takes a few minutes; later
# runs build only what changed. package_version compares every place the version shows with
# the project version.
set(kv_package_checks ${CMAKE_CURRENT_SOURCE_DIR}/package_checks.sh)
add_test(NAME package_desktop_entry
         COMMAND sh ${kv_package_checks} desktop
                 ${CMAKE_SOURCE_DIR}/res/example.brisgal.Kalvosan.desktop)
add_test(NAME package_metainfo
         COMMAND sh ${kv_package_checks} metainfo
                 ${CMAKE_SOURCE_DIR}/res/example.brisgal.Kalvosan.metainfo.xml)
add_test(NAME package_version
         COMMAND sh ${kv_package_checks} version ${PROJECT_VERSION} ${CMAKE_SOURCE_DIR}
                 ${CMAKE_BINARY_DIR}/man)
add_test(NAME package_deb
         COMMAND sh ${kv_package_checks} deb ${CMAKE_SOURCE_DIR} ${CMAKE_CURRENT_BINARY_DIR}/package
                 ${PROJECT_VERSION})
set_tests_properties(package_desktop_entry package_metainfo package_version package_deb PROPERTIES
                     SKIP_RETURN_CODE 77)
# The Release build uses both cores; ctest runs nothing beside it.
set_tests_properties(package_deb PROPERTIES TIMEOUT 1800 PROCESSORS 2)

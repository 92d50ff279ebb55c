# Geometry tests compare against GEOS through GDAL's C API.
find_package(GDAL CONFIG REQUIRED)
target_link_libraries(${target} PRIVATE GDAL::GDAL)

# The thread tests once more under ThreadSanitizer, which cannot be combined with
# the address sanitizer of the sanitizer build: built from the sources directly.
if(NOT KOVRA_SANITIZE)
  set(tsan_target tests_threads_tsan)
  add_executable(${tsan_target}
    ${CMAKE_CURRENT_SOURCE_DIR}/foundation/test_threads.cpp
    ${PROJECT_SOURCE_DIR}/foundation/kovra_threads.cpp
    ${PROJECT_SOURCE_DIR}/platform/kovra_sync.cpp
    ${PROJECT_SOURCE_DIR}/platform/kovra_sysutils.cpp)
  target_include_directories(${tsan_target} PRIVATE ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  target_compile_options(${tsan_target} PRIVATE -fsanitize=thread -fno-omit-frame-pointer)
  target_link_options(${tsan_target} PRIVATE -fsanitize=thread)
  target_link_libraries(${tsan_target} PRIVATE GTest::gtest GTest::gtest_main Threads::Threads)
  gtest_discover_tests(${tsan_target} TEST_PREFIX "tsan." DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT 600)
endif()

# TAB writer tests: the stand-in MITAB library beside the test program, fake
# MITAB and EFAL libraries for the load-status tests, and one ctest entry per
# MITAB load outcome (the library loads once per process).
set(fake_dir ${CMAKE_CURRENT_BINARY_DIR}/fakes)
add_library(fake_mitab_noversion SHARED ${CMAKE_CURRENT_SOURCE_DIR}/giswriter/fakes/fake_mitab.cpp)
target_compile_definitions(fake_mitab_noversion PRIVATE FAKE_MITAB_NO_VERSION)
add_library(fake_mitab_badversion SHARED ${CMAKE_CURRENT_SOURCE_DIR}/giswriter/fakes/fake_mitab.cpp)
target_compile_definitions(fake_mitab_badversion PRIVATE FAKE_MITAB_VERSION=1007001)
add_library(fake_efal_good SHARED ${CMAKE_CURRENT_SOURCE_DIR}/giswriter/fakes/fake_efal.cpp)
add_library(fake_efal_broken SHARED ${CMAKE_CURRENT_SOURCE_DIR}/giswriter/fakes/fake_efal.cpp)
target_compile_definitions(fake_efal_broken PRIVATE FAKE_EFAL_OMIT_DISPOSESTMT)
foreach(fake fake_mitab_noversion fake_mitab_badversion fake_efal_good fake_efal_broken)
  target_include_directories(${fake} PRIVATE ${PROJECT_SOURCE_DIR})
  set_target_properties(${fake} PROPERTIES CXX_VISIBILITY_PRESET hidden)
endforeach()
set_target_properties(fake_mitab_noversion PROPERTIES LIBRARY_OUTPUT_DIRECTORY ${fake_dir}/noversion OUTPUT_NAME mitab64)
set_target_properties(fake_mitab_badversion PROPERTIES LIBRARY_OUTPUT_DIRECTORY ${fake_dir}/badversion OUTPUT_NAME mitab64)
set_target_properties(fake_efal_good PROPERTIES LIBRARY_OUTPUT_DIRECTORY ${fake_dir}/efal_good OUTPUT_NAME efal)
set_target_properties(fake_efal_broken PROPERTIES LIBRARY_OUTPUT_DIRECTORY ${fake_dir}/efal_broken OUTPUT_NAME efal)
add_dependencies(${target} mitab64_gdal fake_mitab_noversion fake_mitab_badversion fake_efal_good fake_efal_broken)
target_compile_definitions(${target} PRIVATE KOVRA_FAKE_LIB_DIR="${fake_dir}")
# Tests of the stand-in compare against GDAL directly.
find_package(GDAL CONFIG REQUIRED)
target_link_libraries(${target} PRIVATE GDAL::GDAL)

# tests_giswriter finds libmitab64.so beside itself (status 0); these runs
# point KOVRA_MITAB_LIBRARY elsewhere.
foreach(case "missing;${fake_dir}/none/libmitab64.so;-2"
             "empty;;-2"
             "noversion;${fake_dir}/noversion/libmitab64.so;-3"
             "badversion;${fake_dir}/badversion/libmitab64.so;-4"
             "good;$<TARGET_FILE:mitab64_gdal>;0")
  list(GET case 0 name)
  list(GET case 1 path)
  list(GET case 2 status)
  add_test(NAME giswriter.MITABLoad.${name}
           COMMAND ${target} --gtest_filter=MITABLoadStatus.*:GISWriterFactory.*)
  set_tests_properties(giswriter.MITABLoad.${name} PROPERTIES
    ENVIRONMENT "KOVRA_MITAB_LIBRARY=${path};KOVRA_EXPECT_MITAB_STATUS=${status}" TIMEOUT 120)
endforeach()

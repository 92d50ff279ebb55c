# libmitab64.so: our MITAB table library on GDAL's "MapInfo File" driver. The
# kovra library does not link it (nor GDAL): it loads the file at run time,
# from KOVRA_MITAB_LIBRARY, the running program's folder or the loader's
# search path. Built into the tests' folder so the test programs find it
# beside themselves.
find_package(GDAL CONFIG REQUIRED)
add_library(mitab64_gdal SHARED ${CMAKE_CURRENT_SOURCE_DIR}/giswriter/mitab64/mitab64_gdal.cpp)
target_include_directories(mitab64_gdal PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(mitab64_gdal PRIVATE GDAL::GDAL)
set_target_properties(mitab64_gdal PROPERTIES
  OUTPUT_NAME mitab64
  CXX_VISIBILITY_PRESET hidden
  VISIBILITY_INLINES_HIDDEN ON
  LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)

# bench_giswriter_tab and bench_giswriter_ogr compare our writers with GDAL's
# C API used directly; the benchmarks are defined later, so the link is added
# once they exist.
function(kovra_link_bench_giswriter_tab)
  foreach(bench bench_giswriter_tab bench_giswriter_ogr)
    if(TARGET ${bench})
      target_link_libraries(${bench} PRIVATE GDAL::GDAL)
      add_dependencies(${bench} mitab64_gdal)
      target_compile_definitions(${bench} PRIVATE KOVRA_MITAB64_PATH="$<TARGET_FILE:mitab64_gdal>")
    endif()
  endforeach()
endfunction()
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL kovra_link_bench_giswriter_tab)

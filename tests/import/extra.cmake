# The import tests share a network-directory decoder and fixture helpers
# (tests/import/support/), run ogr2ogr through the test support and compare
# geometry with GDAL's own reader.
file(GLOB import_support_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/import/support/*.cpp)
target_sources(${target} PRIVATE ${import_support_sources})
target_link_libraries(${target} PRIVATE kovra_testsupport)

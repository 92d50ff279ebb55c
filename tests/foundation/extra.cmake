# Geometry tests compare against GEOS through GDAL's C API.
find_package(GDAL CONFIG REQUIRED)
target_link_libraries(${target} PRIVATE GDAL::GDAL)

# The import tests share a network-directory decoder and fixture helpers
# (tests/import/support/, linked as the folder's support library), run ogr2ogr
# through the test support and compare geometry with GDAL's own reader.
# The build tests compare the network files with the test network writer's.
target_link_libraries(tests_import PRIVATE kovra_network_support)

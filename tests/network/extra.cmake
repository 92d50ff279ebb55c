# Writes the seed corpora of the network fuzz targets with the test writer;
# run by hand after a change of the file layouts:
#   build/tests/network_fuzz_seeds tests/fuzz/corpus
add_executable(network_fuzz_seeds ${CMAKE_CURRENT_SOURCE_DIR}/network/tools/network_fuzz_seeds.cpp)
target_link_libraries(network_fuzz_seeds PRIVATE kovra_network_support)

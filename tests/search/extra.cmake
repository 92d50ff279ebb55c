# The search tests write their networks with the network test writer and
# judge the projection kernels against GEOS.
find_package(GEOS CONFIG REQUIRED)
target_link_libraries(${target} PRIVATE kovra_network_support GEOS::geos_c)

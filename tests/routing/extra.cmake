# The calculator tests write their networks with the network test writer.
target_link_libraries(${target} PRIVATE kovra_network_support)
# The network generator of the routing support writes through the test writer.
if(TARGET kovra_routing_support AND NOT KOVRA_ROUTING_SUPPORT_LINKED)
  target_link_libraries(kovra_routing_support PUBLIC kovra_network_support)
  set(KOVRA_ROUTING_SUPPORT_LINKED ON)
endif()
# The analyses' Tree layer is written as TAB through libmitab64.so, which the
# test program finds beside itself.
if(TARGET mitab64_gdal)
  add_dependencies(${target} mitab64_gdal)
endif()

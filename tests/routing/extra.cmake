# The calculator tests write their networks with the network test writer.
target_link_libraries(${target} PRIVATE kovra_network_support)

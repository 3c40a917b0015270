# Network reachability probe (interfaces and default routes) for the network monitor.
target_sources(dravik_platform PRIVATE ${CMAKE_CURRENT_LIST_DIR}/src/netprobe.cpp)

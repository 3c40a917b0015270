# The sync program's XML document library (state files), parsed through rapidxml.
# Include it as "sync/app/XmlDocument.h".
add_library(dravik_xml STATIC ${CMAKE_CURRENT_LIST_DIR}/XmlDocument.cpp)
target_include_directories(dravik_xml PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(dravik_xml PUBLIC dravik_platform)

# The XML document library: byte layout, entities, loading, kept-aside files, saving.
dravik_test(sync_app_XmlDocument_test LABEL sync-app
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/XmlDocument_test.cpp
  LIBS dravik_xml)

# INI files: the programs' profile and the language tables.
target_sources(dravik_platform PRIVATE ${CMAKE_CURRENT_LIST_DIR}/src/ini.cpp)

# Tests of the client's records, configuration, saved logins, language catalogue,
# helpers and message bus; one executable per unit.
foreach(_unit DateTime TextHelpers ClientLog ClientFiles CloudRecords Config StringCipher UserInfo
              MoCatalog LanguageManager MessageManage)
  dravik_test(client_core_${_unit}_test LABEL client-core
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/${_unit}_test.cpp
    LIBS dravik_client_core)
endforeach()

# Catalogues for the reader: one compiled by msgfmt in each byte order.
find_program(DRAVIK_TEST_MSGFMT msgfmt REQUIRED)
set(_sample_po ${CMAKE_CURRENT_LIST_DIR}/data/sample.po)
set(_mo_le ${CMAKE_CURRENT_BINARY_DIR}/sample-little.mo)
set(_mo_be ${CMAKE_CURRENT_BINARY_DIR}/sample-big.mo)
add_custom_command(OUTPUT ${_mo_le} ${_mo_be}
  COMMAND ${DRAVIK_TEST_MSGFMT} --endianness=little -o ${_mo_le} ${_sample_po}
  COMMAND ${DRAVIK_TEST_MSGFMT} --endianness=big -o ${_mo_be} ${_sample_po}
  DEPENDS ${_sample_po}
  VERBATIM)
add_custom_target(client_core_test_catalogues DEPENDS ${_mo_le} ${_mo_be})
add_dependencies(client_core_MoCatalog_test client_core_test_catalogues)
target_compile_definitions(client_core_MoCatalog_test PRIVATE
  SAMPLE_MO_LITTLE="${_mo_le}" SAMPLE_MO_BIG="${_mo_be}")

# The language tests read the catalogues the build puts beside the program.
if(TARGET dravik_client_lang)
  add_dependencies(client_core_LanguageManager_test dravik_client_lang)
endif()
target_compile_definitions(client_core_LanguageManager_test PRIVATE
  CLIENT_LANGUAGE_DIR="${CMAKE_BINARY_DIR}/bin/language"
  SAMPLE_MO_LITTLE="${_mo_le}")
add_dependencies(client_core_LanguageManager_test client_core_test_catalogues)

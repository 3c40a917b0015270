# The client's languages: the language list and one message catalogue per language,
# compiled from the .po sources, laid out beside the executable as the program reads them:
#   bin/language/language.json and bin/language/data/<code>.mo
find_program(DRAVIK_MSGFMT msgfmt REQUIRED)

set(_client_lang_dir ${CMAKE_BINARY_DIR}/bin/language)
set(_client_lang_outputs ${_client_lang_dir}/language.json)
add_custom_command(
  OUTPUT ${_client_lang_dir}/language.json
  COMMAND ${CMAKE_COMMAND} -E make_directory ${_client_lang_dir}
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_CURRENT_LIST_DIR}/language.json ${_client_lang_dir}/language.json
  DEPENDS ${CMAKE_CURRENT_LIST_DIR}/language.json
  COMMENT "Copying the client's language list"
  VERBATIM)

foreach(_lang IN ITEMS en zh-CN)
  set(_mo ${_client_lang_dir}/data/${_lang}.mo)
  add_custom_command(
    OUTPUT ${_mo}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${_client_lang_dir}/data
    # --check verifies the header and that every translation keeps its placeholders.
    COMMAND ${DRAVIK_MSGFMT} --check -o ${_mo} ${CMAKE_CURRENT_LIST_DIR}/lang/${_lang}.po
    DEPENDS ${CMAKE_CURRENT_LIST_DIR}/lang/${_lang}.po
    COMMENT "Compiling the client's ${_lang} catalogue"
    VERBATIM)
  list(APPEND _client_lang_outputs ${_mo})
endforeach()

add_custom_target(dravik_client_lang ALL DEPENDS ${_client_lang_outputs})

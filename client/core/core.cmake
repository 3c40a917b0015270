# Records, configuration, saved logins, language catalogue, helpers, log set-up and the
# message bus of the client program.
target_sources(dravik_client_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/DateTime.cpp
  ${CMAKE_CURRENT_LIST_DIR}/TextHelpers.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ClientLog.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ClientFiles.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CloudRecords.cpp
  ${CMAKE_CURRENT_LIST_DIR}/XmlSupport.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Config.cpp
  ${CMAKE_CURRENT_LIST_DIR}/StringCipher.cpp
  ${CMAKE_CURRENT_LIST_DIR}/UserInfo.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MoCatalog.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LanguageManager.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MessageManage.cpp
)

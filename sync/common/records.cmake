# Records, trees, text conversions, helpers and folder digests of the sync program.
target_sources(dravik_sync_common PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/CommonTypes.cpp
  ${CMAKE_CURRENT_LIST_DIR}/TreeNode.cpp
  ${CMAKE_CURRENT_LIST_DIR}/unicode.cpp
  ${CMAKE_CURRENT_LIST_DIR}/BaseFunc.cpp
  ${CMAKE_CURRENT_LIST_DIR}/FolderDigest.cpp
)

# Records, trees, text conversions, helpers and folder digests of the sync program.
foreach(unit CommonTypes TreeNode unicode BaseFunc FolderDigest)
  dravik_test(sync_common_${unit}_test LABEL sync-common
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/${unit}_test.cpp
    LIBS dravik_sync_common)
endforeach()

# The reconciliation steps (scenario tables), the reconciliation thread and its disk.
dravik_test(sync_engine_Reconcile_test LABEL sync-engine
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/ReconcileWorld.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ReconcileBuild_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ReconcileMatch_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ReconcileLocal_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ReconcileServer_test.cpp
  LIBS dravik_sync_engine)
dravik_test(sync_engine_ThreadOfConform_test LABEL sync-engine
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/ReconcileWorld.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ThreadOfConform_test.cpp
  LIBS dravik_sync_engine)
dravik_test(sync_engine_EngineFs_test LABEL sync-engine
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/ReconcileWorld.cpp
    ${CMAKE_CURRENT_LIST_DIR}/EngineFs_test.cpp
  LIBS dravik_sync_engine)

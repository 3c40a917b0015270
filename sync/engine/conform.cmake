# The reconciliation thread and the reconciliation steps it runs.
target_sources(dravik_sync_engine PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/EngineFs.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ReconcileSupport.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ReconcileBuild.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ReconcileConflicts.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ReconcileMatch.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ReconcilePartner.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ReconcileServer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ReconcileSort.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ReconcileLocal.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ThreadOfConform.cpp
)

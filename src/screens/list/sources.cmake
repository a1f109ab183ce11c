target_sources(bukurea_ui PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/db.cpp ${CMAKE_CURRENT_LIST_DIR}/db.h
)

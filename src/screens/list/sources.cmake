target_sources(bukurea_ui PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/db.cpp ${CMAKE_CURRENT_LIST_DIR}/db.h
  ${CMAKE_CURRENT_LIST_DIR}/grid.cpp ${CMAKE_CURRENT_LIST_DIR}/grid.h
  ${CMAKE_CURRENT_LIST_DIR}/booktablemodel.cpp ${CMAKE_CURRENT_LIST_DIR}/booktablemodel.h
)

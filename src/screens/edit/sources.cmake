target_sources(bukurea_ui PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/main2.cpp ${CMAKE_CURRENT_LIST_DIR}/main2.h
)

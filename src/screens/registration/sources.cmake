target_sources(bukurea_ui PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/main.cpp ${CMAKE_CURRENT_LIST_DIR}/main.h
)

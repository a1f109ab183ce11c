target_sources(bukurea_ui PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/recordpanel.cpp ${CMAKE_CURRENT_LIST_DIR}/recordpanel.h
)

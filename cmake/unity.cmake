# Unity builds of the program's libraries. Loading the precompiled Qt
# headers is most of what a small source file costs to compile, so the
# sources of a library are compiled a few at a time, each batch as one
# file. The batches stay several per library, so that both cores of a
# small machine have work. -DBUKUREA_UNITY=OFF compiles file by file (and
# shows a name that two files of a batch would share).
#
#   bukurea_unity_build(TARGET BATCH_SIZE)
option(BUKUREA_UNITY "Compile the program's libraries a few sources at a time (unity build)" ON)

function(bukurea_unity_build target batch_size)
  if(BUKUREA_UNITY)
    set_target_properties(${target} PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE ${batch_size})
  endif()
endfunction()

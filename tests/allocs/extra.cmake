# The allocation counter also sees the C allocator where the linker can wrap it.
if(TARGET test_allocs)
  add_dependencies(test_allocs tarsiscalib)
  if(NOT WIN32)
    target_link_options(test_allocs PRIVATE -Wl,--wrap=malloc -Wl,--wrap=calloc -Wl,--wrap=realloc)
    target_compile_definitions(test_allocs PRIVATE TARSIS_WRAP_MALLOC)
  endif()
endif()

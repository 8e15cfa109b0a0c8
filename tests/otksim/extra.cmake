# The simulator's own suite drives the SDK classes of the GCC-built stand-in.
if(TARGET test_otksim)
  target_link_libraries(test_otksim PRIVATE OTK OvCmdIF)
endif()

# The sweep starts the example calibration library on every pass.
if(TARGET test_allocfail)
  add_dependencies(test_allocfail tarsiscalib)
endif()

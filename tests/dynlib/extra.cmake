# The loader tests load the probe library of the calibration tests.
if(TARGET test_dynlib)
  add_dependencies(test_dynlib calibprobe calibnoinit tarsiscalib)
endif()

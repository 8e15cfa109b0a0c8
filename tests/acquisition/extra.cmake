# Calibration libraries the acquisition paths load: the example and one
# without calib_evaluate (built by the calib suite).
if(TARGET test_acquisition)
  add_dependencies(test_acquisition tarsiscalib calibnoeval)
endif()

# The pipeline suite runs samples through the example calibration library.
if(TARGET test_pipeline)
  add_dependencies(test_pipeline tarsiscalib)
endif()

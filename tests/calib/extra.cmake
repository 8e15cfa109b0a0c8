# Calibration libraries that only the tests load: one that records its calls,
# and two that each lack an entry point.
set(_probe_src ${CMAKE_CURRENT_LIST_DIR}/libs/probe.c)
add_library(calibprobe MODULE ${_probe_src})
add_library(calibnoinit MODULE ${_probe_src})
target_compile_definitions(calibnoinit PRIVATE PROBE_NO_INIT)
add_library(calibnoeval MODULE ${_probe_src})
target_compile_definitions(calibnoeval PRIVATE PROBE_NO_EVALUATE)
foreach(_lib calibprobe calibnoinit calibnoeval)
  set_target_properties(${_lib} PROPERTIES PREFIX "")
  tarsis_warnings(${_lib})
endforeach()

if(TARGET test_calib)
  add_dependencies(test_calib tarsiscalib calibprobe calibnoinit calibnoeval)
endif()

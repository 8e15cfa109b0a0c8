# An OTK whose classes are declared otherwise than the module calls them, for
# the binding's refusals: the tests load it in place of the SDK.
add_library(otkodd MODULE ${CMAKE_CURRENT_LIST_DIR}/libs/otkodd.cpp)
set_target_properties(otkodd PROPERTIES PREFIX "")
tarsis_warnings(otkodd)
foreach(_suite sdk connection trackhost)
  if(TARGET test_${_suite})
    add_dependencies(test_${_suite} otkodd)
  endif()
endforeach()

# The controller suite's extras: the controller test device as a module of its
# own (condev), the same device class compiled into the suite for in-process
# checks, and the mixed configuration (tracker + controller device) run
# through trackhost.
set(_ctl ${CMAKE_CURRENT_LIST_DIR})

tarsis_device_module(condev MAP ${CMAKE_SOURCE_DIR}/tracker/exports.map
                      SOURCES ${_ctl}/device/condev.cpp ${_ctl}/device/exports.cpp)

if(TARGET test_controller)
  target_sources(test_controller PRIVATE ${_ctl}/device/condev.cpp)
  add_dependencies(test_controller condev)
endif()

# The example file: the emulated tracker's record lands behind the tracker's.
if(TARGET trackhost)
  add_test(NAME controller_mixed_example
           COMMAND ${CMAKE_COMMAND} -DEXE=$<TARGET_FILE:trackhost> "-DEMULATOR=${CMAKE_CROSSCOMPILING_EMULATOR}"
                   -DCONFIG=${CMAKE_SOURCE_DIR}/examples/tarsis-and-controller.cfg
                   -DWORKDIR=${CMAKE_BINARY_DIR}/bin -P ${_ctl}/check_mixed.cmake)
  set_tests_properties(controller_mixed_example PROPERTIES ENVIRONMENT "OTK_SIM=frames=thread")
endif()

# Only the two entry points leave the module (the checker belongs to the
# harness's tests).
if(WIN32)
  set(_ctl_exports_tool ${CMAKE_OBJDUMP})
else()
  set(_ctl_exports_tool ${CMAKE_NM})
endif()
add_test(NAME condev_exports
         COMMAND ${CMAKE_COMMAND} -DMODULE=$<TARGET_FILE:condev> -DTOOL=${_ctl_exports_tool} -DWINDOWS=${WIN32}
                 "-DEXPECTED=createDev;deleteDev" -P ${CMAKE_SOURCE_DIR}/tests/trackhost/check_exports.cmake)

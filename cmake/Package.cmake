# What `cmake --install` and CPack ship: the module, the example calibration
# library and the harness in bin/, the example configurations, the README, and
# the simulated tracker SDK in a folder of its own. The simulator's libraries
# carry the maker's library names; beside the module they would shadow the
# real SDK on a machine with a real tracker, so only the demo script puts
# simulator/ on the library path.
if(NOT WIN32)
  # The harness finds the module beside itself; the module finds the SDK
  # through the system's library path (the demo script adds simulator/).
  set_target_properties(tarsis tarsiscalib trackhost PROPERTIES INSTALL_RPATH "$ORIGIN")
endif()
install(TARGETS trackhost RUNTIME DESTINATION bin)
install(TARGETS tarsis tarsiscalib LIBRARY DESTINATION bin RUNTIME DESTINATION bin)
# Copied as built: the build's own $ORIGIN run path lets OTK and OvCmdIF find
# each other and the simulator's core.
install(FILES $<TARGET_FILE:OTK> $<TARGET_FILE:OvCmdIF> $<TARGET_FILE:otksim> DESTINATION simulator)
if(WIN32)
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/run_demo.cmd DESTINATION simulator)
else()
  install(PROGRAMS ${CMAKE_SOURCE_DIR}/packaging/run_demo.sh DESTINATION simulator)
endif()
install(DIRECTORY ${CMAKE_SOURCE_DIR}/examples/ DESTINATION examples FILES_MATCHING PATTERN "*.cfg")
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION .)
install(FILES ${CMAKE_SOURCE_DIR}/calibexample/README.md DESTINATION . RENAME README-calibration.md)

# What ships carries neither a symbol table nor debug sections (a mingw-w64
# DLL holds both even in Release, from the static C++ runtime); the build
# folder keeps them for debugging. Every binary installed so far into bin/ or
# simulator/ is stripped once installed, so that a plain `cmake --install` and
# CPack ship the same files.
if(NOT CMAKE_STRIP)
  message(WARNING "No strip tool found: installed binaries and packages keep their symbols.")
else()
  install(CODE "
    foreach(path IN LISTS CMAKE_INSTALL_MANIFEST_FILES)
      if(path MATCHES \"/(bin|simulator)/[^/]+\$\" AND NOT path MATCHES \"[.](sh|cmd)\$\")
        # The manifest names the files without the staging folder.
        set(path \"\$ENV{DESTDIR}\${path}\")
        execute_process(COMMAND \"${CMAKE_STRIP}\" --strip-all \"\${path}\" RESULT_VARIABLE rc ERROR_VARIABLE err)
        if(NOT rc EQUAL 0)
          message(FATAL_ERROR \"cannot strip \${path}: \${err}\")
        endif()
        message(STATUS \"Stripped: \${path}\")
      endif()
    endforeach()
  ")
endif()

set(CPACK_PACKAGE_NAME tarsis)
set(CPACK_PACKAGE_VENDOR tarsis)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Tracker device module with host harness and simulated tracker SDK")
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(tarsis_package_system windows)
else()
  set(CPACK_GENERATOR TGZ)
  set(tarsis_package_system linux)
endif()
set(CPACK_PACKAGE_FILE_NAME "tarsis-${CPACK_PACKAGE_VERSION}-${tarsis_package_system}-${CMAKE_SYSTEM_PROCESSOR}")
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
include(CPack)

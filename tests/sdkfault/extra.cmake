# The SDK that escapes its calls: stand-ins whose members raise (and, on
# Windows, write through a null pointer) when the simulator fails them with
# the results of standin/faults.h, in a folder of their own with the suite's
# executable: the module finds them there, in its own folder, first. The
# working folder stays bin/, where the usual stand-in lies, unused.
set(_sf ${CMAKE_CURRENT_LIST_DIR})
set(_sf_dir ${CMAKE_BINARY_DIR}/bin/sdkfault)
if(NOT TARGET test_sdkfault)
  return()
endif()
set_target_properties(test_sdkfault PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${_sf_dir})

if(NOT WIN32)
  # The GCC-built OTK of the suite; OvCmdIF and the simulator's core come from bin/.
  add_library(sdkfault_OTK SHARED ${_sf}/standin/shell_faults.cpp)
  set_target_properties(sdkfault_OTK PROPERTIES OUTPUT_NAME OTK LIBRARY_OUTPUT_DIRECTORY ${_sf_dir}
                                                BUILD_RPATH "$ORIGIN/..")
  target_include_directories(sdkfault_OTK PRIVATE ${CMAKE_SOURCE_DIR})
  target_compile_definitions(sdkfault_OTK PRIVATE OTK_BUILD)
  target_link_libraries(sdkfault_OTK PUBLIC OvCmdIF PRIVATE otksim)
  tarsis_warnings(sdkfault_OTK)
  set_target_properties(test_sdkfault PROPERTIES BUILD_RPATH "$ORIGIN/..")
  add_dependencies(test_sdkfault sdkfault_OTK)
  return()
endif()

if(NOT TARGET otkmsvc)
  # Only the MSVC-ABI stand-in raises as the maker's SDK would.
  set_tests_properties(sdkfault PROPERTIES DISABLED TRUE)
  return()
endif()
# The MSVC-ABI OTK.dll of the suite, compiled and linked as otkmsvc/ builds
# its own, with kernel32's RaiseException and, for its own __try, the
# structured-exception handler of the system's C runtime; its OvCmdIF.dll and
# the simulator's core beside it.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(_sf_raise "RaiseException@16")
  set(_sf_handler "_except_handler3")
  set(_sf_undecorate -k) # the import's name drops the @16
else()
  set(_sf_raise "RaiseException")
  set(_sf_handler "__C_specific_handler")
  set(_sf_undecorate)
endif()
set(_sf_work ${CMAKE_CURRENT_BINARY_DIR}/sdkfault)
set(_sf_otkmsvc ${CMAKE_BINARY_DIR}/otkmsvc)
file(WRITE ${_sf_work}/kernel32.def "LIBRARY kernel32.dll\nEXPORTS\n    ${_sf_raise}\n")
file(WRITE ${_sf_work}/msvcrt.def "LIBRARY msvcrt.dll\nEXPORTS\n    ${_sf_handler}\n")
foreach(_sf_lib kernel32 msvcrt)
  add_custom_command(
    OUTPUT ${_sf_work}/${_sf_lib}.lib
    COMMAND ${TARSIS_MSVC_DLLTOOL} -m ${TARSIS_MSVC_DLLTOOL_MACHINE} ${_sf_undecorate} -d ${_sf_work}/${_sf_lib}.def
            -l ${_sf_work}/${_sf_lib}.lib
    DEPENDS ${_sf_work}/${_sf_lib}.def
    VERBATIM)
endforeach()
add_custom_command(
  OUTPUT ${_sf_work}/otk_msvc_faults.obj
  COMMAND ${TARSIS_MSVC_CLANG} ${TARSIS_MSVC_FLAGS} -DOTKMSVC_OTK -c ${_sf}/standin/otk_msvc_faults.cpp
          -o ${_sf_work}/otk_msvc_faults.obj
  DEPENDS ${_sf}/standin/otk_msvc_faults.cpp ${_sf}/standin/faults.h ${CMAKE_SOURCE_DIR}/otkmsvc/otk.cpp
          ${CMAKE_SOURCE_DIR}/otkmsvc/sdk.h
  COMMENT "Compiling the faulty MSVC-ABI OTK stand-in"
  VERBATIM)
add_custom_command(
  OUTPUT ${_sf_dir}/OTK.dll
  COMMAND ${CMAKE_COMMAND} -E make_directory ${_sf_dir}
  COMMAND ${TARSIS_MSVC_LLD_LINK} /nologo /dll /noentry /nodefaultlib /machine:${TARSIS_MSVC_MACHINE}
          /out:${_sf_dir}/OTK.dll /implib:${_sf_work}/OTK.lib ${_sf_work}/otk_msvc_faults.obj ${_sf_otkmsvc}/runtime.obj
          ${_sf_otkmsvc}/otksim.lib ${_sf_work}/kernel32.lib ${_sf_work}/msvcrt.lib
  DEPENDS ${_sf_work}/otk_msvc_faults.obj ${_sf_work}/kernel32.lib ${_sf_work}/msvcrt.lib
  COMMENT "Linking the faulty MSVC-ABI OTK.dll"
  VERBATIM)
add_custom_target(sdkfault_standin ALL
                  DEPENDS ${_sf_dir}/OTK.dll
                  COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:otksim>
                          ${CMAKE_BINARY_DIR}/bin/msvc/OvCmdIF.dll ${_sf_dir}
                  VERBATIM)
add_dependencies(sdkfault_standin otkmsvc otksim)
add_dependencies(test_sdkfault sdkfault_standin)

# Against the MSVC-ABI SDK stand-in of the Windows builds (otkmsvc/): its export
# table, and the stand-in driven through its decorated members.
if(NOT TARGET otkmsvc)
  return()
endif()
set(_msvc ${CMAKE_CURRENT_LIST_DIR})

add_test(NAME otkmsvc_exports
         COMMAND ${CMAKE_COMMAND} -DDIR=${CMAKE_BINARY_DIR}/bin/msvc -DTOOL=${CMAKE_OBJDUMP}
                 -DBITS=${CMAKE_SIZEOF_VOID_P} -P ${_msvc}/check_exports.cmake)

add_executable(test_otkmsvc ${_msvc}/facade/facade_test.cpp)
target_include_directories(test_otkmsvc PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(test_otkmsvc PRIVATE tarsis_core otksim GTest::gtest_main)
tarsis_warnings(test_otkmsvc)
add_dependencies(test_otkmsvc otkmsvc)
add_test(NAME otkmsvc_facade COMMAND test_otkmsvc WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin)

# The device's acquisition and connection suites again, against this
# stand-in: copies of their executables in its folder, where the module finds
# the SDK first (the program's own folder leads the search), beside the
# simulator core, the calibration libraries and the odd SDK they load.
set(_msvc_suites acquisition connection)
set(_msvc_dir ${CMAKE_BINARY_DIR}/bin/msvc)
set(_msvc_files $<TARGET_FILE:otksim> $<TARGET_FILE:tarsiscalib> $<TARGET_FILE:calibnoeval> $<TARGET_FILE:otkodd>)
foreach(_suite IN LISTS _msvc_suites)
  list(APPEND _msvc_files $<TARGET_FILE:test_${_suite}>)
endforeach()
add_custom_target(msvc_suites ALL
                  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${_msvc_files} ${_msvc_dir}
                  COMMENT "Suites beside the MSVC-ABI stand-in"
                  VERBATIM)
add_dependencies(msvc_suites otkmsvc otksim tarsiscalib calibnoeval otkodd)
foreach(_suite IN LISTS _msvc_suites)
  add_dependencies(msvc_suites test_${_suite})
  add_test(NAME ${_suite}_msvc COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} ${_msvc_dir}/test_${_suite}.exe
           WORKING_DIRECTORY ${_msvc_dir})
endforeach()

include(${_msvc}/variants/variants.cmake)

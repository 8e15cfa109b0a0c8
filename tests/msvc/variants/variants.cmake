# The module against the test-only variants of the MSVC-ABI stand-in
# (otkmsvc/variants/): one test executable, copied into each variant's folder
# beside the simulator core, where the module finds that variant's SDK; each
# run takes the cases of its variant.
if(NOT TARGET otkmsvc_bigobject)
  return()
endif()
add_executable(test_otkmsvc_variants ${CMAKE_CURRENT_LIST_DIR}/variants_test.cpp)
target_include_directories(test_otkmsvc_variants PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(test_otkmsvc_variants PRIVATE tarsis_core otksim GTest::gtest_main)
tarsis_warnings(test_otkmsvc_variants)
set(_cases_bigobject BigObject)
set(_cases_portctor PortCtor)
foreach(_variant bigobject portctor)
  set(_dir ${CMAKE_BINARY_DIR}/bin/msvc-${_variant})
  add_custom_target(otkmsvc_${_variant}_suite ALL
                    COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:test_otkmsvc_variants>
                            $<TARGET_FILE:otksim> ${_dir}
                    COMMENT "Variant tests beside the ${_variant} variant of the MSVC-ABI stand-in"
                    VERBATIM)
  add_dependencies(otkmsvc_${_variant}_suite otkmsvc_${_variant} test_otkmsvc_variants otksim)
  add_test(NAME otkmsvc_${_variant}
           COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} ${_dir}/test_otkmsvc_variants.exe --gtest_filter=${_cases_${_variant}}.*
           WORKING_DIRECTORY ${_dir})
endforeach()

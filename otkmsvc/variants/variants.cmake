# Test-only variants of the stand-in's OTK.dll (see the sources beside this
# file), each in a folder of its own, bin/msvc-<variant>/, with a copy of the
# stand-in's OvCmdIF.dll: never beside the stand-in itself, never installed.
# Included by otkmsvc/CMakeLists.txt, whose compiler settings they share.
foreach(_variant bigobject portctor)
  set(_dir ${CMAKE_BINARY_DIR}/bin/msvc-${_variant})
  set(_obj ${_work}/variant_${_variant}.obj)
  add_custom_command(
    OUTPUT ${_obj}
    COMMAND ${TARSIS_MSVC_CLANG} ${_flags} -DOTKMSVC_OTK -c ${CMAKE_CURRENT_SOURCE_DIR}/variants/${_variant}.cpp
            -o ${_obj}
    DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/variants/${_variant}.cpp ${CMAKE_CURRENT_SOURCE_DIR}/otk.cpp ${_headers}
    COMMENT "Compiling the ${_variant} variant of OTK.dll for ${_triple}"
    VERBATIM)
  add_custom_command(
    OUTPUT ${_dir}/OTK.dll ${_dir}/OvCmdIF.dll
    COMMAND ${CMAKE_COMMAND} -E make_directory ${_dir}
    COMMAND ${TARSIS_MSVC_LLD_LINK} /nologo /dll /noentry /nodefaultlib /machine:${_machine} /out:${_dir}/OTK.dll
            /implib:${_work}/variant_${_variant}.lib ${_obj} ${_work}/runtime.obj ${_work}/otksim.lib
    COMMAND ${CMAKE_COMMAND} -E copy ${TARSIS_MSVC_DIR}/OvCmdIF.dll ${_dir}/OvCmdIF.dll
    DEPENDS ${_obj} ${_work}/runtime.obj ${_work}/otksim.lib ${TARSIS_MSVC_DIR}/OvCmdIF.dll
    COMMENT "Linking the ${_variant} variant of the MSVC-ABI OTK.dll"
    VERBATIM)
  add_custom_target(otkmsvc_${_variant} ALL DEPENDS ${_dir}/OTK.dll ${_dir}/OvCmdIF.dll)
  add_dependencies(otkmsvc_${_variant} otkmsvc otksim)
endforeach()

# Every target of the project compiles with the same warnings; the project's
# CI makes them errors, other compilers' users may leave TARSIS_WERROR off.
function(tarsis_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  if(TARSIS_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

if(TARSIS_SANITIZE)
  add_compile_options(-fsanitize=${TARSIS_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${TARSIS_SANITIZE})
  if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    # A host calls a module's exports and virtual slots through pointer types
    # of its own (it knows no module class); clang's function-type check would
    # flag every such call although the binary interface matches.
    add_compile_options(-fno-sanitize=function)
  endif()
endif()

if(MINGW)
  # A self-contained DLL: the host process brings no GCC runtime of its own.
  add_link_options(-static-libgcc -static-libstdc++ -Wl,-Bstatic,--whole-archive -lwinpthread -Wl,--no-whole-archive,-Bdynamic)
endif()

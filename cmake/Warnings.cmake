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
endif()

if(MINGW)
  # A self-contained DLL: the host process brings no GCC runtime of its own.
  add_link_options(-static-libgcc -static-libstdc++ -Wl,-Bstatic,--whole-archive -lwinpthread -Wl,--no-whole-archive,-Bdynamic)
endif()

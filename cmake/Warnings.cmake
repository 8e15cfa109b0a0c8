# Warnings are errors on every build, native and cross.
function(tarsis_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
endfunction()

if(TARSIS_SANITIZE)
  add_compile_options(-fsanitize=${TARSIS_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${TARSIS_SANITIZE})
endif()

if(MINGW)
  # A self-contained DLL: the host process brings no GCC runtime of its own.
  add_link_options(-static-libgcc -static-libstdc++ -Wl,-Bstatic,--whole-archive -lwinpthread -Wl,--no-whole-archive,-Bdynamic)
endif()

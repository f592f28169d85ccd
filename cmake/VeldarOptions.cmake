# Per-target build settings shared by the library, the demo, the tests and the
# benchmarks: strict warnings, and the sanitizers when VELDAR_SANITIZE is on.
function(veldar_target_defaults target)
  set_target_properties(${target} PROPERTIES CXX_EXTENSIONS OFF)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic
    $<$<BOOL:${VELDAR_WERROR}>:-Werror>)
  if(VELDAR_SANITIZE)
    set(flags -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    target_compile_options(${target} PRIVATE ${flags})
    target_link_options(${target} PRIVATE ${flags})
  endif()
endfunction()

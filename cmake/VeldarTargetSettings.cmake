# Per-target build settings shared by the library, the demo, the tests and the
# benchmarks: strict warnings, and the sanitizers when VELDAR_SANITIZE or
# VELDAR_TSAN is on.
function(veldar_target_defaults target)
  set_target_properties(${target} PROPERTIES CXX_EXTENSIONS OFF)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic
    $<$<BOOL:${VELDAR_WERROR}>:-Werror>)
  # g++ 12 in C++20 inlines std::string's operator+ and then warns of memcpy
  # calls of 2^63 bytes that cannot happen ("-" + text); a false positive of
  # that compiler alone. C++17 builds keep the warning.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(${target} PRIVATE
      $<$<VERSION_GREATER_EQUAL:$<TARGET_PROPERTY:CXX_STANDARD>,20>:-Wno-restrict>)
  endif()
  if(VELDAR_SANITIZE)
    set(flags -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    target_compile_options(${target} PRIVATE ${flags})
    target_link_options(${target} PRIVATE ${flags})
  endif()
  if(VELDAR_TSAN)
    target_compile_options(${target} PRIVATE -fsanitize=thread -fno-omit-frame-pointer)
    target_link_options(${target} PRIVATE -fsanitize=thread)
  endif()
endfunction()

# Coverage instrumentation and sanitizers for the fuzz target and its copy of
# the library.
function(veldar_fuzzer_instrumentation target)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "VELDAR_BUILD_FUZZER needs clang (libFuzzer); configure with CXX=clang++")
  endif()
  target_compile_options(${target} PRIVATE -fsanitize=fuzzer-no-link,address,undefined
    -fno-sanitize-recover=all -fno-omit-frame-pointer)
endfunction()

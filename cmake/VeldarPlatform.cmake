# The compilers and systems the library is written for, checked before any
# target is made, so that an unsupported one stops the configuration with a
# message that says why rather than with a compiler error deep in a build:
#   GCC or Clang   the sources use their builtins and attributes, and the
#                  build their warning and sanitizer options
#   a 64-bit POSIX system
#                  the kernels compute on 64-bit words, and the report at
#                  termination writes with POSIX write(2) and signals
#   __int128       the kernels' double-word products and quotients
include(CheckCXXSourceCompiles)

if(NOT CMAKE_CXX_COMPILER_ID MATCHES "^(GNU|Clang|AppleClang)$")
  message(FATAL_ERROR "veldar needs GCC or Clang; the C++ compiler is ${CMAKE_CXX_COMPILER_ID} "
    "(${CMAKE_CXX_COMPILER}). Configure with CXX=g++ or CXX=clang++.")
endif()
if(NOT UNIX)
  message(FATAL_ERROR "veldar needs a POSIX system; this is ${CMAKE_SYSTEM_NAME}.")
endif()
if(NOT CMAKE_SIZEOF_VOID_P EQUAL 8)
  message(FATAL_ERROR "veldar needs a 64-bit target; pointers here have ${CMAKE_SIZEOF_VOID_P} bytes.")
endif()
check_cxx_source_compiles([[
  int main() {
    unsigned __int128 product = static_cast<unsigned __int128>(~0ULL) * ~0ULL;
    return static_cast<int>(product >> 127) - 1;
  }]] VELDAR_HAVE_INT128)
if(NOT VELDAR_HAVE_INT128)
  message(FATAL_ERROR "veldar needs the compiler's unsigned __int128, which ${CMAKE_CXX_COMPILER_ID} "
    "${CMAKE_CXX_COMPILER_VERSION} does not offer for ${CMAKE_SYSTEM_PROCESSOR}.")
endif()

# veldar.pc, installed in the library folder's pkgconfig/, so that a project
# without CMake builds with
#   c++ main.cpp $(pkg-config --cflags --libs veldar)
# Its prefix is found from where the file lies (${pcfiledir}), so the same
# file is right wherever the package is installed or unpacked:
# cmake --install --prefix, DESTDIR, the Debian package and the archive.
set(pcdir "${CMAKE_INSTALL_LIBDIR}/pkgconfig")
if(IS_ABSOLUTE "${pcdir}")
  set(VELDAR_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
  file(RELATIVE_PATH up "/root/${pcdir}" "/root")  # ../.. for lib/pkgconfig
  string(REGEX REPLACE "/$" "" up "${up}")
  set(VELDAR_PC_PREFIX "\${pcfiledir}/${up}")
endif()
foreach(dir INCLUDEDIR LIBDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${dir}}")
    set(VELDAR_PC_${dir} "${CMAKE_INSTALL_${dir}}")
  else()
    set(VELDAR_PC_${dir} "\${prefix}/${CMAKE_INSTALL_${dir}}")
  endif()
endforeach()

# What libveldar itself links: a user of the static library links it too; a
# user of the shared library gets it through the library.
set(VELDAR_PC_LIBS "")
set(VELDAR_PC_LIBS_PRIVATE "")
if(CMAKE_THREAD_LIBS_INIT)
  get_target_property(type veldar TYPE)
  if(type STREQUAL "STATIC_LIBRARY")
    set(VELDAR_PC_LIBS " ${CMAKE_THREAD_LIBS_INIT}")
  else()
    set(VELDAR_PC_LIBS_PRIVATE "Libs.private: ${CMAKE_THREAD_LIBS_INIT}\n")
  endif()
endif()

configure_file("${CMAKE_CURRENT_LIST_DIR}/veldar.pc.in" "${CMAKE_CURRENT_BINARY_DIR}/veldar.pc" @ONLY)
install(FILES "${CMAKE_CURRENT_BINARY_DIR}/veldar.pc" DESTINATION "${pcdir}" COMPONENT development)

# Makes the packages as the README's packaging step does (a shared build
# configured for /usr, then cpack) and checks what they hold:
#   libveldar<major>.<minor>   the versioned shared library alone, stripped and
#                              not executable, in the multiarch library folder,
#                              with the ldconfig trigger and a shlibs file but
#                              no maintainer scripts, and dependencies found by
#                              dpkg-shlibdeps (unversioned without it)
#   libveldar-dev              the headers, the libveldar.so link, the CMake
#                              package and veldar.pc, depending on exactly its
#                              own version of the runtime package
#   both                       copyright (the LICENSE) and changelog.Debian.gz,
#                              whose top entry is the package's version, in
#                              usr/share/doc/<package>/, and a maintainer with
#                              an address
#   the archive                everything cmake --install puts, and none of
#                              the Debian packages' own files
# and that cpack -G DEB refuses a build whose library folder is not the
# multiarch one. The packages stay in WORK/packages for the consumer test and
# the lintian test.
#
#   -DSOURCE_DIR=... -DWORK=... -DCOMPILER=... -DVERSION=... [-DSTANDARD=20]
#   [-DWERROR=ON] -DMULTIARCH=<CMAKE_LIBRARY_ARCHITECTURE> -DDPKG_DEB=...
#   -DREADELF=... -DGZIP=...
cmake_minimum_required(VERSION 3.25)
file(REMOVE_RECURSE "${WORK}")
string(REGEX MATCH "^[0-9]+\\.[0-9]+" soversion "${VERSION}")
set(runtime "libveldar${soversion}")
set(development "libveldar-dev")
set(debversion "${VERSION}-1")

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "failed (${result}): ${ARGN}\n${output}")
  endif()
endfunction()

function(fail)
  string(JOIN "" text ${ARGN})
  message(FATAL_ERROR "${text}")
endfunction()

# The build, as the README's packaging step configures it.
set(configure "-DCMAKE_CXX_COMPILER=${COMPILER}" -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON
  -DCMAKE_INSTALL_PREFIX=/usr -DVELDAR_BUILD_TESTS=OFF -DVELDAR_BUILD_DEMO=OFF "-DVELDAR_WERROR=${WERROR}")
if(STANDARD)
  list(APPEND configure "-DCMAKE_CXX_STANDARD=${STANDARD}")
endif()
run(${CMAKE_COMMAND} -S "${SOURCE_DIR}" -B "${WORK}/build" ${configure})
run(${CMAKE_COMMAND} --build "${WORK}/build" -j2)
run("${CMAKE_CPACK_COMMAND}" --config "${WORK}/build/CPackConfig.cmake" -B "${WORK}/packages")  # TGZ and DEB

# The library folder: the multiarch one on Debian.
load_cache("${WORK}/build" READ_WITH_PREFIX built_ CMAKE_INSTALL_LIBDIR)
set(libdir "${built_CMAKE_INSTALL_LIBDIR}")
if(MULTIARCH AND EXISTS "/etc/debian_version" AND NOT libdir STREQUAL "lib/${MULTIARCH}")
  fail("a build for /usr installs its library in ${libdir}, not lib/${MULTIARCH}")
endif()

file(GLOB debs RELATIVE "${WORK}/packages" "${WORK}/packages/*.deb")
file(GLOB runtimedeb "${WORK}/packages/${runtime}_${debversion}_*.deb")
file(GLOB developmentdeb "${WORK}/packages/${development}_${debversion}_*.deb")
file(GLOB archive "${WORK}/packages/veldar-${VERSION}-*.tar.gz")
list(LENGTH debs count)
if(NOT count EQUAL 2 OR NOT runtimedeb OR NOT developmentdeb OR NOT archive)
  fail("cpack should make ${runtime}_${debversion}_<arch>.deb, ${development}_${debversion}_<arch>.deb "
    "and veldar-${VERSION}-<system>.tar.gz; it made:\n${debs}\n${archive}")
endif()

# Control fields.
function(fields deb out)
  execute_process(COMMAND "${DPKG_DEB}" --field "${deb}" Package Version Section Maintainer Depends Description
    OUTPUT_VARIABLE control RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    fail("dpkg-deb cannot read ${deb}")
  endif()
  set(${out} "${control}" PARENT_SCOPE)
endfunction()
string(REPLACE "." "\\." version_pattern "${debversion}")
string(REPLACE "." "\\." runtime_pattern "${runtime}")
# The runtime package's dependencies come from dpkg-shlibdeps, with the
# versions it finds; without it (Debian: dpkg-dev), they are unversioned.
find_program(SHLIBDEPS dpkg-shlibdeps)
if(SHLIBDEPS)
  set(depends "[^\n]*libc6 \\(>= [0-9.]+\\)[^\n]*libstdc\\+\\+6 \\(>= [0-9.]+\\)[^\n]*")
else()
  set(depends "libc6, libgcc-s1, libstdc\\+\\+6")
endif()
fields("${runtimedeb}" control)
if(NOT control MATCHES "Package: ${runtime_pattern}\nVersion: ${version_pattern}\nSection: libs\nMaintainer: [^<\n]+ <[^@>\n ]+@[^>\n ]+\\.[^>\n ]+>\n"
   OR NOT control MATCHES "\nDepends: ${depends}\n"
   OR NOT control MATCHES "\nDescription: [^\n]*shared library\n .*MIT license")
  fail("${runtimedeb} has the control fields:\n${control}")
endif()
fields("${developmentdeb}" control)
if(NOT control MATCHES "Package: ${development}\nVersion: ${version_pattern}\nSection: libdevel\nMaintainer: [^<\n]+ <[^@>\n ]+@[^>\n ]+\\.[^>\n ]+>\n"
   OR NOT control MATCHES "\nDepends: ${runtime_pattern} \\(= ${version_pattern}\\)\n"
   OR NOT control MATCHES "\nDescription: [^\n]*development files\n .*MIT license")
  fail("${developmentdeb} has the control fields:\n${control}")
endif()

# Control files: the runtime package's trigger and shlibs; no maintainer
# scripts in either (they would call ldconfig).
file(MAKE_DIRECTORY "${WORK}/control")
foreach(package runtime development)
  run("${DPKG_DEB}" --control "${${package}deb}" "${WORK}/control/${package}")
  foreach(script preinst postinst prerm postrm)
    if(EXISTS "${WORK}/control/${package}/${script}")
      file(READ "${WORK}/control/${package}/${script}" text)
      fail("${${package}deb} has a ${script} script:\n${text}")
    endif()
  endforeach()
endforeach()
if(NOT EXISTS "${WORK}/control/runtime/triggers" OR NOT EXISTS "${WORK}/control/runtime/shlibs")
  fail("${runtimedeb} lacks its triggers or shlibs file")
endif()
file(READ "${WORK}/control/runtime/triggers" triggers)
file(READ "${WORK}/control/runtime/shlibs" shlibs)
if(NOT triggers STREQUAL "activate-noawait ldconfig\n"
   OR NOT shlibs STREQUAL "libveldar ${soversion} ${runtime} (>= ${VERSION})\n")
  fail("${runtimedeb}'s triggers:\n${triggers}shlibs:\n${shlibs}")
endif()
if(EXISTS "${WORK}/control/development/triggers" OR EXISTS "${WORK}/control/development/shlibs")
  fail("${developmentdeb} has a triggers or shlibs file, but no shared library")
endif()

# What each package holds.
file(READ "${SOURCE_DIR}/LICENSE" license)
foreach(package runtime development)
  set(root "${WORK}/${package}")
  run("${DPKG_DEB}" -x "${${package}deb}" "${root}")
  file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE "${root}" "${root}/*")
  set(docdir "usr/share/doc/${${package}}")
  set(required "${docdir}/copyright" "${docdir}/changelog.Debian.gz")
  if(package STREQUAL "runtime")
    list(APPEND required "usr/${libdir}/libveldar.so.${soversion}" "usr/${libdir}/libveldar.so.${VERSION}")
    set(allowed "")
  else()
    list(APPEND required "usr/${libdir}/libveldar.so" "usr/include/veldar/fixedint.h"
      "usr/include/veldar/fixedfloat.h" "usr/include/veldar/export.h" "usr/include/veldar/version.h"
      "usr/${libdir}/cmake/veldar/veldarConfig.cmake" "usr/${libdir}/cmake/veldar/veldarConfigVersion.cmake"
      "usr/${libdir}/cmake/veldar/veldarTargets.cmake" "usr/${libdir}/pkgconfig/veldar.pc")
    set(allowed "^usr/include/veldar/[a-z_]+\\.h$|^usr/${libdir}/cmake/veldar/veldarTargets-release\\.cmake$")
  endif()
  foreach(file IN LISTS required)
    if(NOT file IN_LIST files)
      fail("${${package}deb} lacks ${file}; it holds:\n${files}")
    endif()
  endforeach()
  foreach(file IN LISTS files)
    if(NOT file IN_LIST required AND (NOT allowed OR NOT file MATCHES "${allowed}"))
      fail("${${package}deb} should not hold ${file}")
    endif()
  endforeach()
  # The license, and the Debian changelog whose top entry is this version.
  file(READ "${root}/${docdir}/copyright" copyright)
  if(NOT copyright STREQUAL license)
    fail("${${package}deb}'s copyright file is not the LICENSE:\n${copyright}")
  endif()
  execute_process(COMMAND "${GZIP}" -d -c "${root}/${docdir}/changelog.Debian.gz" OUTPUT_VARIABLE changelog
    RESULT_VARIABLE result)
  if(NOT result EQUAL 0 OR NOT changelog MATCHES "^veldar \\(${version_pattern}\\) [a-z]+; urgency=[a-z]+\n"
     OR NOT changelog MATCHES "\n -- [^<\n]+ <[^@>\n ]+@[^>\n ]+>  [A-Z][a-z][a-z], [0-9][0-9] [A-Z][a-z][a-z] [0-9]+ ")
    fail("${${package}deb}'s changelog.Debian.gz should begin with an entry for ${debversion} (cmake/debian/changelog):\n"
      "${changelog}")
  endif()
endforeach()

# The links, the stripped library and its permissions.
foreach(link "libveldar.so.${soversion}:runtime:libveldar.so.${VERSION}" "libveldar.so:development:libveldar.so.${soversion}")
  string(REPLACE ":" ";" link "${link}")
  list(GET link 0 name)
  list(GET link 1 package)
  list(GET link 2 target)
  file(READ_SYMLINK "${WORK}/${package}/usr/${libdir}/${name}" found)
  if(NOT found STREQUAL target)
    fail("usr/${libdir}/${name} should point to ${target}, not to '${found}'")
  endif()
endforeach()
set(library "${WORK}/runtime/usr/${libdir}/libveldar.so.${VERSION}")
execute_process(COMMAND "${READELF}" -S -W "${library}" OUTPUT_VARIABLE sections)
if(NOT sections MATCHES "\\.dynsym" OR sections MATCHES "\\.symtab|\\.debug_")
  fail("the packaged library is not stripped:\n${sections}")
endif()
execute_process(COMMAND "${DPKG_DEB}" --contents "${runtimedeb}" OUTPUT_VARIABLE listing)
string(REPLACE "." "\\." library_pattern "libveldar.so.${VERSION}")
if(NOT listing MATCHES "(^|\n)-rw-r--r-- root/root [^\n]* \\./usr/${libdir}/${library_pattern}\n")
  fail("the packaged library should be 0644 and belong to root:\n${listing}")
endif()
message(STATUS "${runtime} and ${development}: ok")

# The archive: what cmake --install puts, without the Debian packages' files.
execute_process(COMMAND ${CMAKE_COMMAND} -E tar tf "${archive}" OUTPUT_VARIABLE archived)
foreach(file include/veldar/fixedint.h include/veldar/export.h include/veldar/version.h
        ${libdir}/libveldar.so.${VERSION} ${libdir}/libveldar.so ${libdir}/cmake/veldar/veldarConfig.cmake
        ${libdir}/pkgconfig/veldar.pc share/doc/veldar/copyright)
  if(NOT archived MATCHES "/${file}\n")
    fail("the archive lacks ${file}:\n${archived}")
  endif()
endforeach()
if(archived MATCHES "share/doc/libveldar")
  fail("the archive holds the Debian packages' doc folders:\n${archived}")
endif()
message(STATUS "veldar-${VERSION} archive: ok")

# A build for another prefix has its library in lib/, which the Debian
# packages must not use: cpack -G DEB says how to configure instead.
if(MULTIARCH AND EXISTS "/etc/debian_version")
  run(${CMAKE_COMMAND} -S "${SOURCE_DIR}" -B "${WORK}/build" -DCMAKE_INSTALL_PREFIX=/opt/veldar)
  execute_process(COMMAND "${CMAKE_CPACK_COMMAND}" -G DEB --config "${WORK}/build/CPackConfig.cmake"
    -B "${WORK}/refused" RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  file(GLOB made "${WORK}/refused/*.deb")
  if(result EQUAL 0 OR made OR NOT output MATCHES "CMAKE_INSTALL_PREFIX=/usr")
    fail("cpack -G DEB should refuse a build for /opt/veldar (${result}):\n${output}")
  endif()
  message(STATUS "cpack -G DEB refuses a build whose library folder is lib: ok")
endif()

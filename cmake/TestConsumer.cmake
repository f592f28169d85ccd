# Builds examples/consumer against veldar twice and runs it each time: once
# against the package installed from BUILD_DIR into a scratch prefix, once
# with add_subdirectory on SOURCE_DIR (which must then build no tests or demo).
#   -DSOURCE_DIR=... -DBUILD_DIR=... -DWORK=... -DCOMPILER=... -DVERSION=... [-DFLAGS=...]
file(REMOVE_RECURSE "${WORK}")
set(expected "veldar ${VERSION}\n78.9 * 0.123 = 9.7047\n-408\n")

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "failed (${result}): ${ARGN}\n${output}")
  endif()
endfunction()

function(buildandrun name)
  run(${CMAKE_COMMAND} -S "${SOURCE_DIR}/examples/consumer" -B "${WORK}/${name}"
      "-DCMAKE_CXX_COMPILER=${COMPILER}" "-DCMAKE_CXX_FLAGS=${FLAGS}" "-DCMAKE_EXE_LINKER_FLAGS=${FLAGS}" ${ARGN})
  run(${CMAKE_COMMAND} --build "${WORK}/${name}" -j2)
  execute_process(COMMAND "${WORK}/${name}/consumer" RESULT_VARIABLE result OUTPUT_VARIABLE output)
  if(NOT result EQUAL 0 OR NOT output STREQUAL expected)
    message(FATAL_ERROR "${name} consumer printed (${result}):\n${output}\nexpected:\n${expected}")
  endif()
  message(STATUS "${name} consumer: ok")
endfunction()

run(${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${WORK}/prefix")
buildandrun(installed "-DCMAKE_PREFIX_PATH=${WORK}/prefix")

buildandrun(subdirectory "-DVELDAR_SOURCE_DIR=${SOURCE_DIR}")
foreach(unwanted veldar-tests veldar-demo)
  if(EXISTS "${WORK}/subdirectory/veldar/tests/${unwanted}" OR EXISTS "${WORK}/subdirectory/veldar/demo/${unwanted}")
    message(FATAL_ERROR "add_subdirectory built ${unwanted}")
  endif()
endforeach()

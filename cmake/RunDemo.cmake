# Runs the demo (-DDEMO=path) in -DWORKDIR=dir, which gets a fresh logs folder,
# shows what it printed and where its report went, and checks both.
file(REMOVE_RECURSE "${WORKDIR}")
file(MAKE_DIRECTORY "${WORKDIR}/logs")
execute_process(COMMAND "${DEMO}"
  WORKING_DIRECTORY "${WORKDIR}"
  OUTPUT_VARIABLE output
  ERROR_VARIABLE errors
  RESULT_VARIABLE result)
message("veldar-demo printed:\n${output}")
set(report "${WORKDIR}/logs/veldar.log")
if(NOT output STREQUAL "0.123\n9.7047\n")
  message(FATAL_ERROR "veldar-demo printed something unexpected (exit: ${result}):\n${output}${errors}")
endif()
if(NOT EXISTS "${report}")
  message(FATAL_ERROR "veldar-demo left no report file (exit: ${result})\n${errors}")
endif()
message("veldar-demo ended through its terminate handler as intended (${result}).")
message("Report file: ${report}")

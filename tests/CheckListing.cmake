# Runs the tool once and compares what it printed, byte for byte, and its exit
# status with what they must be:
#
#   cmake -DCOMMAND_FILE=F -DEXPECTED=FILE -DSTATUS=N -DOUTPUT=PATH [-DARGUMENTS=...] -P CheckListing.cmake
#
# COMMAND_FILE sets quorvel_command: the emulator's command line, if any, then
# the binary. Standard output lands in PATH.out (kept for a look after a
# failure), standard error in PATH.err; standard error is shown, not judged:
# an emulator may have its own say there.
include("${COMMAND_FILE}")
get_filename_component(folder "${OUTPUT}" DIRECTORY)
file(MAKE_DIRECTORY "${folder}")
execute_process(COMMAND ${quorvel_command} ${ARGUMENTS}
  OUTPUT_FILE "${OUTPUT}.out" ERROR_FILE "${OUTPUT}.err" RESULT_VARIABLE status TIMEOUT 100)

file(SHA256 "${OUTPUT}.out" got)
file(SHA256 "${EXPECTED}" want)
if(status STREQUAL STATUS AND got STREQUAL want)
  return()
endif()
file(READ "${OUTPUT}.out" printed)
file(READ "${OUTPUT}.err" errors)
file(READ "${EXPECTED}" want_text)
list(JOIN quorvel_command " " shown)
set(verdict "the same bytes as")
if(NOT got STREQUAL want)
  set(verdict "not the bytes of")
endif()
message(FATAL_ERROR "${shown} ${ARGUMENTS}: exit status ${status} (${STATUS} expected), ${verdict} ${EXPECTED}\n"
  "standard output, in ${OUTPUT}.out:\n${printed}\n"
  "expected, as in ${EXPECTED}:\n${want_text}\n"
  "standard error:\n${errors}")

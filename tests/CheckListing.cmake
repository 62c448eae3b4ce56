# Runs the tool and compares what it printed, byte for byte, and its exit
# status with what they must be; given one file, it runs twice: on the file,
# and on the same bytes piped into its standard input ("-"), which must give
# the same:
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
set(runs file)
list(LENGTH ARGUMENTS count)
if(count EQUAL 1)
  list(APPEND runs pipe)
endif()
foreach(run IN LISTS runs)
  if(run STREQUAL "file")
    execute_process(COMMAND ${quorvel_command} ${ARGUMENTS}
      OUTPUT_FILE "${OUTPUT}.out" ERROR_FILE "${OUTPUT}.err" RESULT_VARIABLE status TIMEOUT 100)
    set(shown_arguments "${ARGUMENTS}")
  else()
    # The writer's own status is not judged: the tool may close the pipe
    # before it is done, as soon as the listing is complete.
    execute_process(COMMAND "${CMAKE_COMMAND}" -E cat ${ARGUMENTS} COMMAND ${quorvel_command} -
      OUTPUT_FILE "${OUTPUT}.out" ERROR_FILE "${OUTPUT}.err" RESULTS_VARIABLE statuses TIMEOUT 100)
    list(GET statuses -1 status)
    set(shown_arguments "- (${ARGUMENTS} through a pipe)")
  endif()
  file(SHA256 "${OUTPUT}.out" got)
  file(SHA256 "${EXPECTED}" want)
  if(status STREQUAL STATUS AND got STREQUAL want)
    continue()
  endif()
  file(READ "${OUTPUT}.out" printed)
  file(READ "${OUTPUT}.err" errors)
  file(READ "${EXPECTED}" want_text)
  list(JOIN quorvel_command " " shown)
  set(verdict "the same bytes as")
  if(NOT got STREQUAL want)
    set(verdict "not the bytes of")
  endif()
  message(FATAL_ERROR "${shown} ${shown_arguments}: exit status ${status} (${STATUS} expected), ${verdict} ${EXPECTED}\n"
    "standard output, in ${OUTPUT}.out:\n${printed}\n"
    "expected, as in ${EXPECTED}:\n${want_text}\n"
    "standard error:\n${errors}")
endforeach()

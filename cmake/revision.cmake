# Writes OUTPUT, a header defining DLS2MML_REVISION: the commit the sources
# were built from when SOURCE_DIR is a clone (with "-modified" when its files
# differ from that commit), else "". Run at every build by the dls2mml_revision
# target; the file is rewritten only when its text changes, so an unchanged
# revision rebuilds nothing.
#   cmake -DSOURCE_DIR=... -DOUTPUT=... -P revision.cmake
set(revision "")
find_program(GIT_PROGRAM git)
if(GIT_PROGRAM AND EXISTS "${SOURCE_DIR}/.git")
  execute_process(COMMAND "${GIT_PROGRAM}" -C "${SOURCE_DIR}" rev-parse --short=12 HEAD
    OUTPUT_VARIABLE revision OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE failed)
  if(failed)
    set(revision "")
  else()
    execute_process(COMMAND "${GIT_PROGRAM}" -C "${SOURCE_DIR}" diff-index --quiet HEAD --
      RESULT_VARIABLE modified OUTPUT_QUIET ERROR_QUIET)
    if(modified)
      string(APPEND revision "-modified")
    endif()
  endif()
endif()
set(text "// Made by cmake/revision.cmake at build time.\n#define DLS2MML_REVISION \"${revision}\"\n")
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" old)
endif()
if(NOT old STREQUAL text)
  file(WRITE "${OUTPUT}" "${text}")
endif()

# Runs rivari-check once and compares its exit status and output with a golden file.
#   TOOL      the rivari-check program
#   CASES     the folder the program runs in (the case files are named relative to it)
#   ARGS      the arguments, separated by |
#   EXPECTED  the golden file: standard output, then "[stderr]" and standard error when there is any
#   EXIT      the expected exit status
#   MODE      "exact" (default) or "contains": every line of the golden file must appear in the output
#   INPUT     a file for standard input, or empty
#   ACTUAL_FILE  where a differing output is written for inspection
#   OUT_DIR   optional: a folder the run writes (rivari-check split --out); emptied first unless KEEP_OUT is set,
#             named <out> in the output, and listed after it under "[tree]" (each file, its size, and the text
#             of the small ones)
# With the environment variable RIVARI_CHECK_UPDATE set, an exact golden file is rewritten instead.
string(REPLACE "|" ";" ARGUMENTS "${ARGS}")
if(NOT DEFINED INPUT OR INPUT STREQUAL "")
  set(INPUT /dev/null)
endif()
if(DEFINED OUT_DIR AND NOT KEEP_OUT)
  file(REMOVE_RECURSE ${OUT_DIR})
endif()
# The split refuses an output folder whose parent is missing: the parent is the test's to make.
if(DEFINED OUT_DIR)
  get_filename_component(OUT_PARENT ${OUT_DIR} DIRECTORY)
  file(MAKE_DIRECTORY ${OUT_PARENT})
endif()
execute_process(COMMAND ${TOOL} ${ARGUMENTS}
                INPUT_FILE ${INPUT}
                WORKING_DIRECTORY ${CASES}
                OUTPUT_VARIABLE OUTPUT
                ERROR_VARIABLE ERRORS
                RESULT_VARIABLE STATUS)
set(ACTUAL "${OUTPUT}")
if(NOT ERRORS STREQUAL "")
  string(APPEND ACTUAL "[stderr]\n${ERRORS}")
endif()
if(DEFINED OUT_DIR)
  string(REPLACE "${OUT_DIR}" "<out>" ACTUAL "${ACTUAL}")
  string(APPEND ACTUAL "[tree]\n")
  file(GLOB_RECURSE TREE_FILES LIST_DIRECTORIES false RELATIVE ${OUT_DIR} ${OUT_DIR}/*)
  list(SORT TREE_FILES)
  foreach(TREE_FILE IN LISTS TREE_FILES)
    file(SIZE ${OUT_DIR}/${TREE_FILE} TREE_SIZE)
    string(APPEND ACTUAL "${TREE_FILE} ${TREE_SIZE}\n")
    if(TREE_FILE MATCHES "rivari\\.ini$|\\.map$")
      file(READ ${OUT_DIR}/${TREE_FILE} TREE_TEXT)
      string(APPEND ACTUAL "${TREE_TEXT}")
    endif()
  endforeach()
endif()

if(NOT STATUS STREQUAL "${EXIT}")
  message(FATAL_ERROR "rivari-check ${ARGUMENTS}: exit status ${STATUS}, expected ${EXIT}\n${ACTUAL}")
endif()

if(DEFINED ENV{RIVARI_CHECK_UPDATE} AND NOT MODE STREQUAL "contains")
  file(WRITE ${EXPECTED} "${ACTUAL}")
  return()
endif()

file(READ ${EXPECTED} GOLDEN)
if(MODE STREQUAL "contains")
  string(REPLACE "\n" ";" GOLDEN_LINES "${GOLDEN}")
  foreach(LINE IN LISTS GOLDEN_LINES)
    string(FIND "${ACTUAL}" "${LINE}" AT)
    if(AT EQUAL -1)
      message(FATAL_ERROR "rivari-check ${ARGUMENTS}: output lacks the line\n${LINE}\nOutput:\n${ACTUAL}")
    endif()
  endforeach()
elseif(NOT ACTUAL STREQUAL GOLDEN)
  file(WRITE ${ACTUAL_FILE} "${ACTUAL}")
  execute_process(COMMAND diff -u ${EXPECTED} ${ACTUAL_FILE} OUTPUT_VARIABLE DIFFERENCE)
  message(FATAL_ERROR "rivari-check ${ARGUMENTS}: output differs from ${EXPECTED}\n${DIFFERENCE}")
endif()

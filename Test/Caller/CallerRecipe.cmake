# Builds callers with the build lines of docs/Calling.md exactly as the guide prints them: the fenced sh block
# under "## Building a caller", run by sh in a scratch folder holding the caller as TolvaneCaller.c and
# CallerMemory.c. The one substitution: the package's header folder, /usr/include/tolvane, is this tree's Include.
# Each row runs at the compiler's default optimisation or with -O2 added to every clang line; two rows leave one
# part of the recipe out and expect the link error the guide names for it.
#   GUIDE   docs/Calling.md    INCLUDE   Include/    EXAMPLES   Examples/Caller/    TESTS   Test/Caller/
#   WORK    a scratch folder
file(READ ${GUIDE} GUIDE_TEXT)
string(FIND "${GUIDE_TEXT}" "\n## Building a caller\n" HEADING)
if(HEADING EQUAL -1)
  message(FATAL_ERROR "${GUIDE} has no section \"## Building a caller\"")
endif()
string(SUBSTRING "${GUIDE_TEXT}" ${HEADING} -1 SECTION)
if(NOT SECTION MATCHES "\n```sh\n([^`]*)```")
  message(FATAL_ERROR "the section \"## Building a caller\" of ${GUIDE} has no sh block")
endif()
string(REPLACE "/usr/include/tolvane" "${INCLUDE}" RECIPE "${CMAKE_MATCH_1}")

# recipe_case(NAME SOURCE OPTIMISATION LEFT_OUT EXPECTED): builds SOURCE with the recipe, the text matching LEFT_OUT
# (a regular expression; NONE: nothing) removed from it, at OPTIMISATION (DEFAULT or -O2); EXPECTED is LINKS or the text the failed link prints.
function(recipe_case NAME SOURCE OPTIMISATION LEFT_OUT EXPECTED)
  set(FOLDER ${WORK}/${NAME})
  file(REMOVE_RECURSE ${FOLDER})
  file(MAKE_DIRECTORY ${FOLDER})
  file(COPY_FILE ${SOURCE} ${FOLDER}/TolvaneCaller.c)
  file(COPY_FILE ${EXAMPLES}/CallerMemory.c ${FOLDER}/CallerMemory.c)
  set(LINES "${RECIPE}")
  if(NOT LEFT_OUT STREQUAL "NONE")
    string(REGEX REPLACE "${LEFT_OUT}" "" LINES "${LINES}")
  endif()
  set(PREAMBLE "set -e\n")
  if(OPTIMISATION STREQUAL "-O2")
    set(PREAMBLE "${PREAMBLE}clang() { command clang \"$@\" -O2; }\n")
  endif()
  file(WRITE ${FOLDER}/recipe.sh "${PREAMBLE}${LINES}")
  execute_process(COMMAND sh recipe.sh WORKING_DIRECTORY ${FOLDER} RESULT_VARIABLE RESULT OUTPUT_VARIABLE OUTPUT
                  ERROR_VARIABLE OUTPUT)
  if(EXPECTED STREQUAL "LINKS")
    if(NOT RESULT EQUAL 0 OR NOT EXISTS ${FOLDER}/TolvaneCaller.efi)
      message(SEND_ERROR "${NAME}: the recipe does not build it:\n${LINES}\n${OUTPUT}")
      return()
    endif()
    # The PE header's Subsystem field (offset 68 of the optional header) must say EFI application (10).
    file(READ ${FOLDER}/TolvaneCaller.efi PE_OFFSET OFFSET 60 LIMIT 4 HEX)
    string(REGEX REPLACE "(..)(..)(..)(..)" "0x\\4\\3\\2\\1" PE_OFFSET "${PE_OFFSET}")
    math(EXPR SUBSYSTEM_OFFSET "${PE_OFFSET} + 24 + 68")
    file(READ ${FOLDER}/TolvaneCaller.efi SUBSYSTEM OFFSET ${SUBSYSTEM_OFFSET} LIMIT 2 HEX)
    if(NOT SUBSYSTEM STREQUAL "0a00")
      message(SEND_ERROR "${NAME}: the image's subsystem is 0x${SUBSYSTEM} (little-endian), not an EFI application")
    endif()
    message(STATUS "${NAME}: builds")
  elseif(RESULT EQUAL 0 OR NOT OUTPUT MATCHES "${EXPECTED}")
    message(SEND_ERROR "${NAME}: expected the link to fail with \"${EXPECTED}\":\n${LINES}\n${OUTPUT}")
  else()
    message(STATUS "${NAME}: fails as the guide says (${EXPECTED})")
  endif()
endfunction()

foreach(OPTIMISATION DEFAULT -O2)
  string(REPLACE "DEFAULT" "-default" OPTIMISATION_NAME ${OPTIMISATION})
  recipe_case(caller-example${OPTIMISATION_NAME} ${EXAMPLES}/TolvaneCaller.c ${OPTIMISATION} NONE LINKS)
  recipe_case(zeroed-address${OPTIMISATION_NAME} ${TESTS}/ZeroedAddress.c ${OPTIMISATION} NONE LINKS)
  recipe_case(large-locals${OPTIMISATION_NAME} ${TESTS}/LargeLocals.c ${OPTIMISATION} NONE LINKS)
endforeach()
recipe_case(zeroed-address-without-memory-functions ${TESTS}/ZeroedAddress.c DEFAULT " CallerMemory[.][co]" "undefined symbol: memset")
recipe_case(large-locals-without-probe-flag ${TESTS}/LargeLocals.c DEFAULT " -mno-stack-arg-probe" "undefined symbol: __chkstk")

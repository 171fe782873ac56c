# Builds Test/Caller/LargeLocals.c with the caller build recipe of docs/Calling.md and checks that it links, and
# that without -mno-stack-arg-probe it does not (the compiler then calls __chkstk, which no application has).
#   CC       clang      LINKER   lld-link      SOURCE   LargeLocals.c      WORK   a scratch folder
set(RECIPE --target=x86_64-unknown-windows -ffreestanding -O2)
set(LINK /subsystem:efi_application /entry:CallerMain /nodefaultlib)
file(MAKE_DIRECTORY ${WORK})

# build(RESULT FLAGS...): compiles and links with the recipe and FLAGS; RESULT is the link's exit status.
function(build RESULT)
  execute_process(COMMAND ${CC} ${RECIPE} ${ARGN} -c ${SOURCE} -o ${WORK}/LargeLocals.obj
                  RESULT_VARIABLE COMPILED ERROR_VARIABLE ERRORS)
  if(NOT COMPILED EQUAL 0)
    message(FATAL_ERROR "compiling with ${ARGN} failed:\n${ERRORS}")
  endif()
  execute_process(COMMAND ${LINKER} ${LINK} /out:${WORK}/LargeLocals.efi ${WORK}/LargeLocals.obj
                  RESULT_VARIABLE LINKED OUTPUT_VARIABLE OUTPUT ERROR_VARIABLE ERRORS)
  set(${RESULT} ${LINKED} PARENT_SCOPE)
  set(LINK_OUTPUT "${OUTPUT}${ERRORS}" PARENT_SCOPE)
endfunction()

build(WITH_FLAG -mno-stack-arg-probe)
if(NOT WITH_FLAG EQUAL 0)
  message(FATAL_ERROR "the recipe with -mno-stack-arg-probe does not link 8 KiB of locals:\n${LINK_OUTPUT}")
endif()
build(WITHOUT_FLAG)
if(WITHOUT_FLAG EQUAL 0 OR NOT LINK_OUTPUT MATCHES "__chkstk")
  message(FATAL_ERROR "without -mno-stack-arg-probe the link was expected to miss __chkstk:\n${LINK_OUTPUT}")
endif()
message(STATUS "8 KiB of locals: links with -mno-stack-arg-probe; without it, __chkstk is missing")

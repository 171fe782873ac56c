# Prints the size of a built image, in total and per section, against the size budget:
#   cmake -DIMAGE=path [-DREADOBJ=llvm-readobj] [-DENFORCE=ON] [-DBUDGET_VARIABLE=name] -P PrintImageSize.cmake
# With ENFORCE, an image above the budget of ImageSizeBudget.cmake is an error. BUDGET_VARIABLE names the
# image's budget there; the service's, TOLVANE_IMAGE_SIZE_BUDGET, by default.
include(${CMAKE_CURRENT_LIST_DIR}/ImageSizeBudget.cmake)
if(NOT BUDGET_VARIABLE)
  set(BUDGET_VARIABLE TOLVANE_IMAGE_SIZE_BUDGET)
endif()
set(BUDGET ${${BUDGET_VARIABLE}})

if(NOT EXISTS ${IMAGE})
  message(FATAL_ERROR "${IMAGE} is missing: build the efi preset first")
endif()
file(SIZE ${IMAGE} IMAGE_SIZE)
get_filename_component(IMAGE_NAME ${IMAGE} NAME)

if(READOBJ)
  execute_process(COMMAND ${READOBJ} --file-headers --sections ${IMAGE} OUTPUT_VARIABLE HEADERS RESULT_VARIABLE RESULT)
  if(RESULT EQUAL 0)
    if(HEADERS MATCHES "SizeOfHeaders: ([0-9]+)")
      message(STATUS "${IMAGE_NAME}   headers  ${CMAKE_MATCH_1} bytes in the file")
    endif()
    # One "Name: ... VirtualSize: 0x.. ... RawDataSize: n" group per section.
    string(REGEX MATCHALL "Name: [^ \n]+[^\n]*\n[^\n]*VirtualSize: 0x[0-9A-F]+\n[^\n]*\n[^\n]*RawDataSize: [0-9]+" SECTIONS
           "${HEADERS}")
    foreach(SECTION IN LISTS SECTIONS)
      string(REGEX MATCH "Name: ([^ \n]+)" _ "${SECTION}")
      set(NAME ${CMAKE_MATCH_1})
      string(REGEX MATCH "VirtualSize: 0x([0-9A-F]+)" _ "${SECTION}")
      math(EXPR VIRTUAL "0x${CMAKE_MATCH_1}")
      string(REGEX MATCH "RawDataSize: ([0-9]+)" _ "${SECTION}")
      message(STATUS "${IMAGE_NAME}   ${NAME}  ${VIRTUAL} bytes used, ${CMAKE_MATCH_1} bytes in the file")
    endforeach()
  endif()
endif()

math(EXPR HEADROOM "${BUDGET} - ${IMAGE_SIZE}")
message(STATUS "${IMAGE_NAME}: ${IMAGE_SIZE} bytes, budget ${BUDGET} bytes (${HEADROOM} left)")
if(IMAGE_SIZE GREATER BUDGET)
  if(ENFORCE)
    message(FATAL_ERROR "${IMAGE_NAME} is ${IMAGE_SIZE} bytes, above its budget of ${BUDGET} bytes "
                        "(cmake/ImageSizeBudget.cmake)")
  endif()
  message(WARNING "${IMAGE_NAME} is above its size budget (cmake/ImageSizeBudget.cmake)")
endif()

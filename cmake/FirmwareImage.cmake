# One firmware image of the efi build beside the service: a freestanding PE32+ image on the support library,
# with the compiler's block copies and clears, its sections 32-byte aligned in the file, and its size
# reported after each link against the budget named in cmake/ImageSizeBudget.cmake.
#   tolvane_firmware_image(TARGET OUTPUT_NAME name SUBSYSTEM efi_boot_service_driver|efi_application
#                          ENTRY symbol BUDGET_VARIABLE name SOURCES ... [LIBRARIES ...])
function(tolvane_firmware_image TARGET)
  cmake_parse_arguments(IMAGE "" "OUTPUT_NAME;SUBSYSTEM;ENTRY;BUDGET_VARIABLE" "SOURCES;LIBRARIES" ${ARGN})
  add_executable(${TARGET} ${IMAGE_SOURCES} ${PROJECT_SOURCE_DIR}/Driver/TolvaneService/Firmware/CompilerSupport.cpp)
  target_link_libraries(${TARGET} PRIVATE TolvaneLibrary ${IMAGE_LIBRARIES})
  target_compile_options(${TARGET} PRIVATE ${TOLVANE_WARNINGS})
  set_target_properties(${TARGET} PROPERTIES OUTPUT_NAME ${IMAGE_OUTPUT_NAME} SUFFIX ".efi"
                                             RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR})
  target_link_options(${TARGET} PRIVATE /subsystem:${IMAGE_SUBSYSTEM} /entry:${IMAGE_ENTRY}
                      /dynamicbase /opt:ref /opt:icf /merge:.rdata=.text /filealign:32)
  add_custom_command(TARGET ${TARGET} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -DIMAGE=$<TARGET_FILE:${TARGET}> -DREADOBJ=${TOLVANE_READOBJ}
            -DBUDGET_VARIABLE=${IMAGE_BUDGET_VARIABLE} -P ${PROJECT_SOURCE_DIR}/cmake/PrintImageSize.cmake
    VERBATIM)
  install(FILES $<TARGET_FILE:${TARGET}> DESTINATION bin)
endfunction()

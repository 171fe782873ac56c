# The firmware image TolvaneService.efi: a boot-service driver of subsystem 11.
# Size first: -Oz, link-time optimisation across all sources (lld-link does the code generation, so
# routines used once are folded into their caller and nothing unreached is kept), and no jump tables.
set(TOLVANE_FIRMWARE_SIZE_FLAGS "-Oz -flto -fno-jump-tables")
set(CMAKE_CXX_FLAGS_RELEASE "${TOLVANE_FIRMWARE_SIZE_FLAGS}")
set(CMAKE_CXX_FLAGS_MINSIZEREL "${TOLVANE_FIRMWARE_SIZE_FLAGS}")

include(${CMAKE_CURRENT_LIST_DIR}/Layers.cmake)

add_executable(TolvaneService
  ${PROJECT_SOURCE_DIR}/Driver/TolvaneService/Firmware/PortWrite.cpp
  ${PROJECT_SOURCE_DIR}/Driver/TolvaneService/Firmware/CompilerSupport.cpp)
target_link_libraries(TolvaneService PRIVATE TolvaneDriver)
set_target_properties(TolvaneService PROPERTIES SUFFIX ".efi" RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR})
target_link_options(TolvaneService PRIVATE /subsystem:efi_boot_service_driver /entry:DriverEntryPoint
                    /dynamicbase /opt:ref /opt:icf /merge:.rdata=.text
                    # Sections stay page-aligned in memory (so firmware can still protect code and
                    # data apart); only their padding in the file goes, from 512 to 32 bytes.
                    /filealign:32)
# The size report: total and per section, against the budget of cmake/ImageSizeBudget.cmake.
find_program(TOLVANE_READOBJ NAMES llvm-readobj llvm-readobj-14)
add_custom_command(TARGET TolvaneService POST_BUILD
  COMMAND ${CMAKE_COMMAND} -DIMAGE=$<TARGET_FILE:TolvaneService> -DREADOBJ=${TOLVANE_READOBJ}
          -P ${PROJECT_SOURCE_DIR}/cmake/PrintImageSize.cmake
  VERBATIM)
add_subdirectory(Driver/TolvaneNetworkSetup)
add_subdirectory(Applications/TolvaneTool)
include(${CMAKE_CURRENT_LIST_DIR}/FirmwareImageChecks.cmake)

include(${PROJECT_SOURCE_DIR}/cmake/Signing.cmake)
add_subdirectory(Examples/Caller)
add_subdirectory(Benchmarks/Soak)

# `cmake --install` puts the image in bin/, next to the host build's rivari-check.
install(FILES $<TARGET_FILE:TolvaneService> DESTINATION bin)

if(EXISTS ${PROJECT_SOURCE_DIR}/Test/Firmware/CMakeLists.txt)
  add_subdirectory(Test/Firmware)
endif()

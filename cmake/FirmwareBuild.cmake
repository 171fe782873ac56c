# The firmware image TolvaneService.efi: a boot-service driver of subsystem 11.
set(CMAKE_CXX_FLAGS_RELEASE "-Os")
set(CMAKE_CXX_FLAGS_MINSIZEREL "-Os")

add_executable(TolvaneService
  ${TOLVANE_LIBRARY_SOURCES}
  ${TOLVANE_DRIVER_SOURCES}
  ${PROJECT_SOURCE_DIR}/Driver/TolvaneService/Firmware/PortWrite.cpp
  ${PROJECT_SOURCE_DIR}/Driver/TolvaneService/Firmware/CompilerSupport.cpp)
target_include_directories(TolvaneService PRIVATE ${TOLVANE_INCLUDE_DIRS})
set_target_properties(TolvaneService PROPERTIES SUFFIX ".efi" RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR})
target_link_options(TolvaneService PRIVATE /subsystem:efi_boot_service_driver /entry:DriverEntryPoint
                    /dynamicbase /opt:ref /opt:icf /merge:.rdata=.text)
# The size report: total and per section, against the budget of cmake/ImageSizeBudget.cmake.
find_program(TOLVANE_READOBJ NAMES llvm-readobj llvm-readobj-14)
add_custom_command(TARGET TolvaneService POST_BUILD
  COMMAND ${CMAKE_COMMAND} -DIMAGE=$<TARGET_FILE:TolvaneService> -DREADOBJ=${TOLVANE_READOBJ}
          -P ${PROJECT_SOURCE_DIR}/cmake/PrintImageSize.cmake
  VERBATIM)

if(EXISTS ${PROJECT_SOURCE_DIR}/Test/Firmware/CMakeLists.txt)
  add_subdirectory(Test/Firmware)
endif()

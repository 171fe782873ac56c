# The firmware image, built by the efi preset, is a relocatable PE32+ boot-service driver without imports.
find_program(TOLVANE_READOBJ NAMES llvm-readobj llvm-readobj-14)
if(TOLVANE_READOBJ)
  add_test(NAME FirmwareImageIsBootServiceDriver
           COMMAND ${CMAKE_COMMAND} -DIMAGE=${PROJECT_SOURCE_DIR}/build/efi/TolvaneService.efi
                   -DREADOBJ=${TOLVANE_READOBJ} -P ${PROJECT_SOURCE_DIR}/cmake/CheckFirmwareImage.cmake)
  set_tests_properties(FirmwareImageIsBootServiceDriver PROPERTIES LABELS firmware)
endif()

# The image stays within the size budget of cmake/ImageSizeBudget.cmake.
add_test(NAME FirmwareImageWithinSizeBudget
         COMMAND ${CMAKE_COMMAND} -DIMAGE=${PROJECT_SOURCE_DIR}/build/efi/TolvaneService.efi -DREADOBJ=${TOLVANE_READOBJ}
                 -DENFORCE=ON -P ${PROJECT_SOURCE_DIR}/cmake/PrintImageSize.cmake)
set_tests_properties(FirmwareImageWithinSizeBudget PROPERTIES LABELS firmware)

# Checks of the image this build makes, run by `ctest --preset efi`: a relocatable PE32+ boot-service driver
# without imports, within the size budget of cmake/ImageSizeBudget.cmake.
enable_testing()
if(TOLVANE_READOBJ)
  add_test(NAME FirmwareImageIsBootServiceDriver
           COMMAND ${CMAKE_COMMAND} -DIMAGE=$<TARGET_FILE:TolvaneService> -DREADOBJ=${TOLVANE_READOBJ}
                   -P ${PROJECT_SOURCE_DIR}/cmake/CheckFirmwareImage.cmake)
  set_tests_properties(FirmwareImageIsBootServiceDriver PROPERTIES LABELS firmware)
endif()
add_test(NAME FirmwareImageWithinSizeBudget
         COMMAND ${CMAKE_COMMAND} -DIMAGE=$<TARGET_FILE:TolvaneService> -DREADOBJ=${TOLVANE_READOBJ} -DENFORCE=ON
                 -P ${PROJECT_SOURCE_DIR}/cmake/PrintImageSize.cmake)
set_tests_properties(FirmwareImageWithinSizeBudget PROPERTIES LABELS firmware)

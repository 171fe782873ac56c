# Checks of the image this build makes, run by `ctest --preset efi`: a relocatable PE32+ boot-service driver
# without imports, within the size budget of cmake/ImageSizeBudget.cmake; the same for the network companion, and
# the field tool as a UEFI application within its own budget.
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

if(TOLVANE_READOBJ)
  add_test(NAME NetworkSetupImageIsBootServiceDriver
           COMMAND ${CMAKE_COMMAND} -DIMAGE=$<TARGET_FILE:TolvaneNetworkSetup> -DREADOBJ=${TOLVANE_READOBJ}
                   -P ${PROJECT_SOURCE_DIR}/cmake/CheckFirmwareImage.cmake)
  add_test(NAME FieldToolImageIsApplication
           COMMAND ${CMAKE_COMMAND} -DIMAGE=$<TARGET_FILE:TolvaneTool> -DREADOBJ=${TOLVANE_READOBJ} -DAPPLICATION=ON
                   -P ${PROJECT_SOURCE_DIR}/cmake/CheckFirmwareImage.cmake)
  set_tests_properties(NetworkSetupImageIsBootServiceDriver FieldToolImageIsApplication PROPERTIES LABELS firmware)
endif()
add_test(NAME NetworkSetupImageWithinSizeBudget
         COMMAND ${CMAKE_COMMAND} -DIMAGE=$<TARGET_FILE:TolvaneNetworkSetup> -DREADOBJ=${TOLVANE_READOBJ} -DENFORCE=ON
                 -DBUDGET_VARIABLE=TOLVANE_NETWORK_SETUP_SIZE_BUDGET -P ${PROJECT_SOURCE_DIR}/cmake/PrintImageSize.cmake)
add_test(NAME FieldToolImageWithinSizeBudget
         COMMAND ${CMAKE_COMMAND} -DIMAGE=$<TARGET_FILE:TolvaneTool> -DREADOBJ=${TOLVANE_READOBJ} -DENFORCE=ON
                 -DBUDGET_VARIABLE=TOLVANE_FIELD_TOOL_SIZE_BUDGET -P ${PROJECT_SOURCE_DIR}/cmake/PrintImageSize.cmake)
set_tests_properties(NetworkSetupImageWithinSizeBudget FieldToolImageWithinSizeBudget PROPERTIES LABELS firmware)

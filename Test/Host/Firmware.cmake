# The driver in real firmware: every scenario of Test/Firmware/Scenarios in one
# OVMF boot under QEMU (Debian packages qemu-system-x86 and ovmf). It runs the
# images of the efi preset, which the test command builds before the host presets.
if(NOT TOLVANE_SANITIZE AND NOT TOLVANE_FUZZ)
  find_package(Python3 COMPONENTS Interpreter)
  if(Python3_Interpreter_FOUND)
    add_test(NAME FirmwareScenarios
             COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/Test/Firmware/harness.py
                     --build-dir ${PROJECT_SOURCE_DIR}/build/efi
                     --work-dir ${CMAKE_BINARY_DIR}/firmware-scenarios)
    set_tests_properties(FirmwareScenarios PROPERTIES LABELS firmware TIMEOUT 600)
  else()
    message(WARNING "python3 not found: the firmware scenarios (FirmwareScenarios) are not registered")
  endif()
endif()

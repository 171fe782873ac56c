# rivari-check --server against tftpd-hpa, dnsmasq and the hostile test server on the loopback interface of a
# private namespace (the test bed's guard). A server that cannot be started here skips its test, saying why.
if(NOT TOLVANE_FUZZ)
  find_package(Python3 COMPONENTS Interpreter)
  if(Python3_Interpreter_FOUND)
    foreach(SERVER tftpd-hpa dnsmasq atftpd hostile)
      add_test(NAME RivariCheck.Server.${SERVER}
               COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/Test/Tools/RivariCheck/server_check.py
                       --tool $<TARGET_FILE:rivari-check> --server ${SERVER})
      # LeakSanitizer cannot stop the world inside the guard's PID namespace (it reads the host's /proc there and
      # exits 1): leaks are the host suites' to find, these tests check what the tool reports.
      set_tests_properties(RivariCheck.Server.${SERVER} PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 180
                           ENVIRONMENT "PYTHONPATH=${PROJECT_SOURCE_DIR}/Test")
    endforeach()
  else()
    message(WARNING "python3 not found: the rivari-check server tests (RivariCheck.Server.*) are not registered")
  endif()
endif()

# The TFTP client's and the server check's suites: scripted servers behind the client's datagram seam.
target_sources(TolvaneHostTests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/ScriptedTftpServer.cpp)
target_link_libraries(TolvaneHostTests PRIVATE RivariServerCheck)

# The table of firmware facts against the tool, the test bed and the fault scenarios' statuses (checked in OVMF by
# the firmware stage).
if(NOT TOLVANE_FUZZ AND Python3_Interpreter_FOUND)
  add_test(NAME RivariCheck.FirmwareModel
           COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/Test/Tools/RivariCheck/firmware_model_check.py
                   --tool $<TARGET_FILE:rivari-check>)
  set_tests_properties(RivariCheck.FirmwareModel PROPERTIES ENVIRONMENT "PYTHONPATH=${PROJECT_SOURCE_DIR}/Test")
endif()

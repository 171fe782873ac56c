# rivari-check --server against tftpd-hpa, dnsmasq and the hostile test server on the loopback interface of a
# private namespace (the test bed's guard). A server that cannot be started here skips its test, saying why.
if(NOT TOLVANE_FUZZ)
  find_package(Python3 COMPONENTS Interpreter)
  if(Python3_Interpreter_FOUND)
    foreach(SERVER tftpd-hpa dnsmasq hostile)
      add_test(NAME RivariCheck.Server.${SERVER}
               COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/Test/Tools/RivariCheck/server_check.py
                       --tool $<TARGET_FILE:rivari-check> --server ${SERVER})
      set_tests_properties(RivariCheck.Server.${SERVER} PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 120
                           ENVIRONMENT PYTHONPATH=${PROJECT_SOURCE_DIR}/Test)
    endforeach()
  else()
    message(WARNING "python3 not found: the rivari-check server tests (RivariCheck.Server.*) are not registered")
  endif()
endif()

# The Debian package, built from the efi preset's image and this build's rivari-check and taken apart
# again (Test/Package/package-test.sh; Debian packages sbsigntool, openssl, dpkg-dev and lintian).
if(NOT TOLVANE_SANITIZE AND NOT TOLVANE_FUZZ)
  add_test(NAME DebianPackage
           COMMAND ${PROJECT_SOURCE_DIR}/Test/Package/package-test.sh ${PROJECT_SOURCE_DIR}/build/efi ${CMAKE_BINARY_DIR})
  set_tests_properties(DebianPackage PROPERTIES LABELS package TIMEOUT 300)
endif()
